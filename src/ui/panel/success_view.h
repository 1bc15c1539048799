#pragma once

#include <QString>
#include <QWidget>

namespace quellora {

class TintedLabel;

// Where the success screen tells the user to find Quellora: its tray icon, or
// its window where the desktop has no tray.
QString successText(bool trayShown);

// The last setup step: compression runs; "Done" (also the Return key) ends
// setup.
class SuccessView : public QWidget {
    Q_OBJECT
public:
    explicit SuccessView(QWidget* parent = nullptr);

    void setTrayShown(bool trayShown);

signals:
    void done();

private:
    TintedLabel* text_;
};

} // namespace quellora
