#pragma once

#include <QAbstractButton>
#include <QString>
#include <string>

namespace quellora {

// What a saved preset's pill shows: the number alone for the generated names
// ("Preset 12" → "12"), the full name otherwise.
QString presetPillTitle(const std::string& presetName);

// A saved preset's tooltip: its full name, shown as the plain text it is. Qt
// shows a tooltip that looks like markup as rich text, so the name is escaped
// into rich text that reads exactly as typed, spaces included.
QString presetPillToolTip(const std::string& presetName);

// What assistive technology reads for a pill: "12 preset", "12 preset, edited".
QString presetPillAccessibleName(const QString& title, bool edited);

// One preset in the selector: its title on a capsule, stronger while it is
// the active preset, with a dot at the top-trailing corner while it is edited.
// Assistive technology sees the active pill as selected. A click only emits
// clicked(); the owner applies the preset and sets the outcome.
class PresetPill : public QAbstractButton {
    Q_OBJECT
public:
    explicit PresetPill(const QString& title, QWidget* parent = nullptr);

    void setState(bool active, bool edited);
    bool isActive() const { return active_; }
    bool isEdited() const { return edited_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont titleFont() const;
    QRectF capsule() const;

    bool active_ = false;
    bool edited_ = false;
};

} // namespace quellora
