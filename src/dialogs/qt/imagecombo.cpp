#include "dialogs/qt/imagecombo.h"

#include <QAbstractItemView>
#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace {
constexpr int KeyRole = Qt::UserRole;
}

ImageCombo::ImageCombo(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    setPlaceholderText(tr("(any)"));
    setToolTip(tr("Delete or Backspace, or \"Any\" in the context menu, clears the choice (any)"));
    clearAction_ = new QAction(tr("Any (clear the choice)"), this);
    connect(clearAction_, &QAction::triggered, this, &ImageCombo::ClearSelection);
    setCurrentIndex(-1);
}

void ImageCombo::AddItem(const QString& key, const QString& text) {
    addItem(itemIcon_, text, key);
    // adding to an empty combo selects nothing here: every combo starts open
    if (count() == 1) setCurrentIndex(-1);
}

bool ImageCombo::SelectKey(const QString& key) {
    for (int i = 0; i < count(); ++i) {
        if (KeyAt(i) == key) {  // exact, case-sensitive
            setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

QString ImageCombo::SelectedKey() const { return currentIndex() < 0 ? QString() : KeyAt(currentIndex()); }

QString ImageCombo::KeyAt(int index) const { return itemData(index, KeyRole).toString(); }

void ImageCombo::ClearSelection() { setCurrentIndex(-1); }

void ImageCombo::showPopup() {
    // the list opens wide enough for the longest text, whatever the box's width
    view()->setMinimumWidth(view()->sizeHintForColumn(0) + 2 * view()->frameWidth() +
                            view()->verticalScrollBar()->sizeHint().width());
    QComboBox::showPopup();
}

QString ImageCombo::ShownText() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return ShownText(option);
}

QString ImageCombo::ShownText(const QStyleOptionComboBox& option) const {
    const QString text =
        currentIndex() < 0 && !placeholderText().isEmpty() ? placeholderText() : option.currentText;
    // The label's part of the field, as the style lays out the icon beside it.
    int width = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this).width();
    if (!option.currentIcon.isNull()) width -= option.iconSize.width() + 4;
    return fontMetrics().elidedText(text, Qt::ElideRight, std::max(0, width - 2));
}

void ImageCombo::paintEvent(QPaintEvent*) {
    // As the plain combo paints itself, with the text cut to the field.
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    if (currentIndex() < 0 && !placeholderText().isEmpty())
        option.palette.setBrush(QPalette::ButtonText, option.palette.placeholderText());
    option.currentText = ShownText(option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void ImageCombo::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) &&
        event->modifiers() == Qt::NoModifier) {
        ClearSelection();
        event->accept();
        return;
    }
    QComboBox::keyPressEvent(event);
}

void ImageCombo::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    clearAction_->setEnabled(currentIndex() >= 0);
    menu.addAction(clearAction_);
    menu.exec(event->globalPos());
}
