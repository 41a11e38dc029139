// The image combo of the configuration editor: items with an icon, a display
// text and a key ("COM12"). No selected item means an open filter. The user
// takes a selection back with Delete or Backspace, or with "Any" in the
// combo's context menu. A closed combo too narrow for the text of its item
// shows the text cut with an ellipsis ("WS-ACCOUNTING (CORV…").
#pragma once

#include <QComboBox>
#include <QIcon>

class QAction;
class QStyleOptionComboBox;

class ImageCombo : public QComboBox {
    Q_OBJECT

public:
    explicit ImageCombo(QWidget* parent = nullptr);

    void AddItem(const QString& key, const QString& text);
    // Selects the item with exactly this key; false (and no change) when no
    // item has it.
    bool SelectKey(const QString& key);
    // The key of the selected item, or the empty text.
    QString SelectedKey() const;
    QString KeyAt(int index) const;
    // Back to no selection: the open filter.
    void ClearSelection();

    void setItemIcon(const QIcon& icon) { itemIcon_ = icon; }
    QAction* clearAction() const { return clearAction_; }

    void showPopup() override;
    // The text the closed combo shows: the item's (or the placeholder's),
    // cut with an ellipsis where the field is too narrow for it.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QString ShownText(const QStyleOptionComboBox& option) const;

    QIcon itemIcon_;
    QAction* clearAction_;
};
