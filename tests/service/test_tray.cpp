// The hidden window without a desktop (Qt offscreen): the popup menu, the
// icon's message numbers, the command tail and the Qt message boxes.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "monitor/modMain.h"
#include "platform/messagebox.h"
#include "platform/qt/QtMessageBox.h"
#include "service/qt/frmSystemTray.h"
#include "settings/errors.h"

using telwick::platform::Answer;
using telwick::platform::Buttons;

namespace {

// A service control that only notes what the window asked of it.
struct RecordingControl : telwick::service::ServiceControl {
    QStringList calls;
    bool installResult = true;
    std::string displayName() const override { return "Corvane Monitoring Service"; }
    void setInteractive(bool on) override { calls << QString("interactive %1").arg(on); }
    void setDebug(bool on) override { calls << QString("debug %1").arg(on); }
    void setControlsAccepted(int32_t c) override { calls << QString("controls %1").arg(c); }
    bool Install() override {
        calls << "install";
        return installResult;
    }
    bool Uninstall() override {
        calls << "uninstall";
        return installResult;
    }
    void StartService(telwick::service::ServiceRequests*) override { calls << "start"; }
    void StopService() override { calls << "stop"; }
    bool LogEvent(int16_t, int32_t, const std::string&) override { return true; }
};

struct RecordingBoxes : telwick::platform::MessageBoxHost {
    QStringList shown;
    Answer Show(const std::string& text, const std::string& title, Buttons) override {
        shown << QString::fromStdString("[" + title + "] " + text);
        return Answer::Ok;
    }
};

}  // namespace

class TestTray : public QObject {
    Q_OBJECT

    RecordingControl* control_ = nullptr;
    std::unique_ptr<frmSystemTray> form_;
    int configurationsOpened_ = 0, databaseOpened_ = 0;
    bool configurationsOpen_ = false;

private slots:
    void init() {
        auto control = std::make_unique<RecordingControl>();
        control_ = control.get();
        form_ = std::make_unique<frmSystemTray>(std::move(control));
        configurationsOpened_ = databaseOpened_ = 0;
        configurationsOpen_ = false;
        form_->setDialogs({[this] { ++configurationsOpened_; }, [this] { return configurationsOpen_; },
                           [this] { ++databaseOpened_; }});
    }
    void cleanup() { form_.reset(); }

    void menuItems_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("separator");
        QTest::addColumn<bool>("checked");
        QTest::newRow("notify") << 0 << "Notify settings..." << false << false;
        QTest::newRow("database") << 1 << "Database settings..." << false << false;
        QTest::newRow("separator 1") << 2 << "-" << true << false;
        QTest::newRow("enabled") << 3 << "Enabled" << false << true;
        QTest::newRow("separator 2") << 4 << "-" << true << false;
        QTest::newRow("exit") << 5 << "Exit" << false << false;
    }
    void menuItems() {
        QFETCH(int, index);
        QFETCH(QString, caption);
        QFETCH(bool, separator);
        QFETCH(bool, checked);
        QAction* item = form_->mnuMain(index);
        QCOMPARE(form_->mnuPopup()->actions().at(index), item);
        QCOMPARE(item->isSeparator(), separator);
        // A separator with a text shows that text beside its line.
        QCOMPARE(item->text(), separator ? QString() : caption);
        QCOMPARE(item->isChecked(), checked);
        QCOMPARE(item->isCheckable(), index == frmSystemTray::mnuEnabled);
        QCOMPARE(form_->mnuPopup()->defaultAction(), form_->mnuMain(0));
    }

    void enabledTogglesItsMark() {
        QAction* enabled = form_->mnuMain(frmSystemTray::mnuEnabled);
        enabled->trigger();
        QVERIFY(!enabled->isChecked());
        enabled->trigger();
        QVERIFY(enabled->isChecked());
        QCOMPARE(configurationsOpened_ + databaseOpened_, 0);
    }

    void menuItemsOpenTheDialogs() {
        form_->mnuMain(frmSystemTray::mnuNotifySettings)->trigger();
        form_->mnuMain(frmSystemTray::mnuDatabaseSettings)->trigger();
        QCOMPARE(configurationsOpened_, 1);
        QCOMPARE(databaseOpened_, 1);
    }

    void exitStopsTheTimerAndAsksForTheStop() {
        form_->tmrTimer().start(60000);
        form_->mnuMain(frmSystemTray::mnuExit)->trigger();
        QVERIFY(!form_->tmrTimer().isActive());
        QCOMPARE(control_->calls, QStringList{"stop"});
    }

    void messageNumbers_data() {
        QTest::addColumn<int>("messageNr");
        QTest::addColumn<bool>("listOpen");
        QTest::addColumn<int>("opened");
        QTest::addColumn<bool>("menuShown");
        QTest::newRow("512 mouse move") << 512 << false << 0 << false;
        QTest::newRow("513 left down") << 513 << false << 0 << false;
        QTest::newRow("514 left up") << 514 << false << 0 << false;
        QTest::newRow("515 double click") << 515 << false << 1 << false;
        QTest::newRow("515 list already open") << 515 << true << 0 << false;
        QTest::newRow("516 right down") << 516 << false << 0 << true;
        QTest::newRow("517 right up") << 517 << false << 0 << false;
        QTest::newRow("519 middle") << 519 << false << 0 << false;
    }
    void messageNumbers() {
        QFETCH(int, messageNr);
        QFETCH(bool, listOpen);
        QFETCH(int, opened);
        QFETCH(bool, menuShown);
        configurationsOpen_ = listOpen;
        form_->TrayMessage(messageNr);
        QCOMPARE(configurationsOpened_, opened);
        QCOMPARE(form_->mnuPopup()->isVisible(), menuShown);
        QCOMPARE(databaseOpened_, 0);
        if (menuShown) {
            QCOMPARE(form_->mnuPopup()->defaultAction(), form_->mnuMain(0));
            // A left click takes the menu away again.
            form_->TrayMessage(frmSystemTray::WM_LBUTTONUP);
            QVERIFY(!form_->mnuPopup()->isVisible());
        }
    }

    void activationReasons() {
        QCOMPARE(frmSystemTray::MessageNrOf(QSystemTrayIcon::Trigger), 514);
        QCOMPARE(frmSystemTray::MessageNrOf(QSystemTrayIcon::DoubleClick), 515);
        QCOMPARE(frmSystemTray::MessageNrOf(QSystemTrayIcon::Context), 516);
        QCOMPARE(frmSystemTray::MessageNrOf(QSystemTrayIcon::MiddleClick), 519);
        QCOMPARE(frmSystemTray::MessageNrOf(QSystemTrayIcon::Unknown), 512);
    }

    void commandTail_data() {
        QTest::addColumn<QString>("tail");
        QTest::addColumn<bool>("installWorks");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("message");
        const QStringList start{"controls 2", "start"};
        QTest::newRow("install") << "-install" << true << 0 << QStringList{"interactive 1", "install"}
                                 << "[Telwick] Corvane Monitoring Service installed successfully";
        QTest::newRow("install fails") << "-install" << false << 1 << QStringList{"interactive 1", "install"}
                                       << "[Telwick] Corvane Monitoring Service failed to install";
        QTest::newRow("uninstall") << "-uninstall" << true << 0 << QStringList{"uninstall"}
                                   << "[Telwick] Corvane Monitoring Service uninstalled successfully";
        QTest::newRow("uninstall fails") << "-uninstall" << false << 1 << QStringList{"uninstall"}
                                         << "[Telwick] Corvane Monitoring Service failed to uninstall";
        QTest::newRow("debug") << "-debug" << true << -1 << QStringList{"debug 1"} + start << "";
        QTest::newRow("nothing") << "" << true << -1 << start << "";
        QTest::newRow("upper case") << "-INSTALL" << true << -1 << start << "";
        QTest::newRow("two switches") << "-install -debug" << true << -1 << start << "";
        QTest::newRow("trailing blank") << "-uninstall " << true << -1 << start << "";
    }
    void commandTail() {
        QFETCH(QString, tail);
        QFETCH(bool, installWorks);
        QFETCH(int, status);
        QFETCH(QStringList, calls);
        QFETCH(QString, message);
        RecordingBoxes boxes;
        telwick::platform::SetMessageBoxHost(&boxes);
        modMain::SetCommandTail(tail.toStdString());
        control_->installResult = installWorks;
        const int result = form_->Form_Load();
        telwick::platform::SetMessageBoxHost(nullptr);
        QCOMPARE(result, status);
        QCOMPARE(control_->calls, calls);
        QCOMPARE(boxes.shown, message.isEmpty() ? QStringList{} : QStringList{message});
        // No desktop: no icon, whatever the tail.
        QVERIFY(form_->trayIcon() == nullptr);
    }

    void qtMessageBoxAnswers_data() {
        QTest::addColumn<bool>("question");
        QTest::addColumn<QString>("click");  // button text, "" for Enter, "stop" for none
        QTest::addColumn<int>("answer");
        QTest::newRow("ok") << false << "" << int(Answer::Ok);
        QTest::newRow("ok ended by a stop") << false << "stop" << int(Answer::Ok);
        QTest::newRow("yes is the default") << true << "" << int(Answer::Yes);
        QTest::newRow("no") << true << "&No" << int(Answer::No);
        QTest::newRow("question ended by a stop") << true << "stop" << int(Answer::No);
    }
    void qtMessageBoxAnswers() {
        QFETCH(bool, question);
        QFETCH(QString, click);
        QFETCH(int, answer);
        QString title, text;
        bool hasIcon = true;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            hasIcon = box->icon() != QMessageBox::NoIcon;
            if (click == "stop")
                QCoreApplication::exit(0);
            else if (click.isEmpty())
                QTest::keyClick(box, Qt::Key_Return);
            else
                for (auto* b : box->buttons())
                    if (b->text() == click) b->click();
        });
        telwick::platform::qt::QtMessageBox host;
        auto result = host.Show("Disk C: is 95% full", "Telwick", question ? Buttons::YesNo : Buttons::Ok);
        if (click == "stop") {
            // Clear the pending exit for the tests that follow.
            QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
            QCoreApplication::exec();
        }
        QCOMPARE(int(result), answer);
        QCOMPARE(title, QString("Telwick"));
        QCOMPARE(text, QString("Disk C: is 95% full"));
        QVERIFY(!hasIcon);
    }

    // On the offscreen screen of 800 x 600 pixels.
    void qtMessageBoxFitsTheScreen_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("cut");
        QString words, lines;
        while (words.size() < 10240) words += "Backup of FILESERVER finished with 3 errors. ";
        for (int i = 0; i < 300; ++i) lines += QString("line %1\n").arg(i);
        QTest::newRow("short") << "Disk C: is 95% full" << false;
        QTest::newRow("10 KB of words") << words << true;
        QTest::newRow("10 KB without a blank") << QString(10240, 'x') << true;
        QTest::newRow("300 lines") << lines << true;
    }
    void qtMessageBoxFitsTheScreen() {
        QFETCH(QString, text);
        QFETCH(bool, cut);
        QApplication::setWindowIcon(form_->windowIcon());
        QRect box, opened;
        QString shown, details;
        bool okInside = false, icon = false;
        QTimer::singleShot(0, [&] {
            auto* b = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(b);
            box = b->geometry();
            shown = b->text();
            details = b->detailedText();
            icon = !b->windowIcon().isNull();
            for (auto* button : b->buttons())
                if (b->buttonRole(button) == QMessageBox::ActionRole) button->click();  // "Show Details..."
            QApplication::processEvents();
            opened = b->geometry();
            QAbstractButton* ok = b->button(QMessageBox::Ok);
            okInside = ok->isVisible() && b->rect().contains(QRect(ok->mapTo(b, QPoint(0, 0)), ok->size()));
            ok->click();
        });
        telwick::platform::qt::QtMessageBox().Show(text.toStdString(), "Telwick", Buttons::Ok);
        QApplication::setWindowIcon(QIcon());
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QFont bold = QApplication::font();
        bold.setBold(true);
        // Beside the title, room for a window manager's icon and buttons.
        QVERIFY(box.width() >= QFontMetrics(bold).horizontalAdvance("Telwick") + 150);
        QVERIFY(box.width() <= screen.width());
        QVERIFY2(box.height() <= screen.height() * 2 / 3, qPrintable(QString::number(box.height())));
        QVERIFY2(opened.height() <= screen.height() * 2 / 3, qPrintable(QString::number(opened.height())));
        QVERIFY(okInside);
        QVERIFY(icon);
        if (!cut) {
            QCOMPARE(shown, text);
            QVERIFY(details.isEmpty());
            return;
        }
        QCOMPARE(details, text);
        QVERIFY(shown.endsWith(QString(" \u2026")));
        QVERIFY(shown.size() > 100);
        QVERIFY(text.startsWith(shown.chopped(2)));
    }
};

QTEST_MAIN(TestTray)
#include "test_tray.moc"
