#include "platform/qt/QtMessageBox.h"

#include <QMessageBox>
#include <QPushButton>

namespace telwick::platform::qt {


Answer QtMessageBox::Show(const std::string& text, const std::string& title, Buttons buttons) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title), QString::fromStdString(text));
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
