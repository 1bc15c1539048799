#pragma once

#include "app/app_state.h"
#include "base/observable.h"

#include <QString>
#include <QWidget>
#include <string>
#include <vector>

class QVBoxLayout;

namespace quellora {

class ElidedLabel;
class MenuSwitch;
class PlainButton;
class TintedLabel;

// The count beside "Apps" of those with a stream: "none", "3", "3, 1 direct".
QString appsSummary(const std::vector<ApplicationEntry>& entries);
// Beside an application's name: why it plays direct by default ("call
// audio"), that it is paused, both, or nothing; "remembered" for a choice
// kept for an application with no stream now.
QString applicationDetail(const ApplicationEntry& entry);

// "Apps", collapsed until clicked: the applications with an output stream,
// each with its icon, its name and a switch, on while Quellora levels it and
// off while it plays direct, straight to the output. Under them the choices
// remembered for applications with no stream now, each of which can be
// forgotten.
class AppsSection : public QWidget {
    Q_OBJECT
public:
    explicit AppsSection(AppState& model, QWidget* parent = nullptr);

    bool isExpanded() const { return expanded_; }
    void setExpanded(bool expanded);

private:
    struct Row {
        std::string bundleID;
        QWidget* widget;
        QWidget* icon;
        ElidedLabel* name;
        TintedLabel* detail;
        PlainButton* forget;
        MenuSwitch* toggle;
    };

    void render();
    Row makeRow();
    void showEntry(Row& row, const ApplicationEntry& entry);

    AppState& model_;
    PlainButton* disclosure_;
    QWidget* list_;
    QVBoxLayout* rows_;
    TintedLabel* empty_;
    std::vector<Row> shown_;
    bool expanded_ = false;
    std::vector<Subscription> subscriptions_;
};

} // namespace quellora
