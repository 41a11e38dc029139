// The image combo of the configuration editor: items with an icon, a display
// text and a key ("COM12"). No selected item means an open filter. The user
// takes a selection back with Delete or Backspace, or with "Any" in the
// combo's context menu.
#pragma once

#include <QComboBox>
#include <QIcon>

class QAction;

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

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QIcon itemIcon_;
    QAction* clearAction_;
};
