#pragma once

#include "app/system_audio_permission.h"
#include "base/observable.h"

#include <QColor>
#include <QString>
#include <QWidget>

namespace quellora {

class AppState;
class CircleBadge;
class ProminentButton;
class TintedLabel;

// What the permission screen says: a welcome while the system has not asked
// yet, instructions for changing the answer otherwise.
struct PermissionScreenTexts {
    bool firstRun;
    QString title;
    QString explanation;
    QString buttonText;
    QString buttonHint;
};

PermissionScreenTexts permissionScreenTexts(SystemAudioAuthStatus status);

// The setup step that obtains the capture permission; its button asks the
// model to request it (or to show where it is changed).
class PermissionView : public QWidget {
    Q_OBJECT
public:
    explicit PermissionView(AppState& model, QWidget* parent = nullptr);

private:
    void render();

    AppState& model_;
    CircleBadge* badge_;
    TintedLabel* title_;
    TintedLabel* explanation_;
    TintedLabel* loginNote_;
    ProminentButton* button_;
    Subscription subscription_;
};

} // namespace quellora
