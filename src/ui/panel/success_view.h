#pragma once

#include <QWidget>

namespace quellora {

// The last setup step: compression runs; "Done" (also the Return key) ends
// setup.
class SuccessView : public QWidget {
    Q_OBJECT
public:
    explicit SuccessView(QWidget* parent = nullptr);

signals:
    void done();
};

} // namespace quellora
