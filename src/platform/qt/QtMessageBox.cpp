#include "platform/qt/QtMessageBox.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QShowEvent>
#include <QSpacerItem>
#include <QStyle>
#include <QTextEdit>

#include <algorithm>

namespace telwick::platform::qt {

namespace {

// A box that fits the screen. It is wide enough for a window manager to show
// its whole title beside the frame's buttons, it wraps its text at a readable
// width (Qt's own rule: half the screen, at most 500 pixels), and it is never
// taller than two thirds of the screen: a longer text shows its beginning,
// and the whole text sits behind "Show Details..." in a box that scrolls.
// The text is shown as it is, never as markup.
class FittingBox : public QMessageBox {
public:
    FittingBox(const QString& text, const QString& title)
        : QMessageBox(QMessageBox::NoIcon, title, text), whole_(text) {
        setTextFormat(Qt::PlainText);
        // The program's icon, as the service set it for the whole application.
        setWindowIcon(QApplication::windowIcon());
        if (auto* grid = qobject_cast<QGridLayout*>(layout()))
            grid->addItem(new QSpacerItem(MinimumWidth(title), 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                          grid->rowCount(), 0, 1, grid->columnCount());
    }

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        FitHeight();
    }

private:
    // The title in a bold face with some slack (the window manager's font is
    // not ours), and room for its icon and buttons on the title bar.
    int MinimumWidth(const QString& title) const {
        QFont bold = font();
        bold.setBold(true);
        const QFontMetrics metrics(bold);
        const int wanted = metrics.horizontalAdvance(title) * 5 / 4 + 10 * metrics.height();
        const QScreen* screen = QGuiApplication::primaryScreen();
        return screen ? std::min(wanted, screen->availableGeometry().width() * 9 / 10) : wanted;
    }

    // The beginning of the text, cut after a word where one ends near the cut.
    QString Head(qsizetype length) const {
        if (length > 0 && whole_.at(length - 1).isHighSurrogate()) --length;
        QString head = whole_.left(length);
        const qsizetype blank = head.lastIndexOf(QRegularExpression(QStringLiteral("\\s")));
        if (blank > 0 && blank > length - 40) head.truncate(blank);
        return head.trimmed() + QStringLiteral(" \u2026");
    }

    void FitHeight() {
        const int limit = screen()->availableGeometry().height() * 2 / 3;
        if (height() <= limit || !detailedText().isEmpty()) return;
        setDetailedText(whole_);
        // The details take a third of the room when they are opened.
        int details = limit / 3;
        if (auto* edit = findChild<QTextEdit*>()) edit->setFixedHeight(details);
        details += 2 * std::max(0, style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing)) + 12;
        // The longest beginning that leaves room for the opened details; no
        // screen shows ten thousand characters in two thirds of its height.
        qsizetype fits = 0, tooLong = std::min<qsizetype>(whole_.size(), 10000);
        while (tooLong - fits > 1) {
            const qsizetype middle = fits + (tooLong - fits) / 2;
            setText(Head(middle));
            (height() + details <= limit ? fits : tooLong) = middle;
        }
        setText(Head(fits));
    }

    QString whole_;
};

}  // namespace

Answer QtMessageBox::Show(const std::string& text, const std::string& title, Buttons buttons) {
    FittingBox box(QString::fromStdString(text), QString::fromStdString(title));
    if (buttons == Buttons::Ok) {
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return Answer::Ok;
    }
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    box.exec();
    return box.clickedButton() == box.button(QMessageBox::Yes) ? Answer::Yes : Answer::No;
}

}  // namespace telwick::platform::qt
