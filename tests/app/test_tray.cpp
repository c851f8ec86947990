// The tray icon on the real window: the state lamp, the tooltip, a click that shows or hides the
// window, and a menu whose entries run the toolbar's handlers. The test platform has no tray, so
// the icon stays hidden and is driven directly, as the desktop would drive it.
#include "app/icons.h"
#include "settings/profiles.h"
#include "tests/app/window_test.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace quorvane;

namespace {

class Tray : public test::WindowTest {
protected:
    static QAction* Entry(TfrmTimer& w, const QString& text) {
        for (QAction* action : w.TrayIcon()->contextMenu()->actions()) {
            if (action->text() == text)
                return action;
        }
        ADD_FAILURE() << "no entry " << text.toStdString();
        return nullptr;
    }
    static QAction* SessionEntry(TfrmTimer& w) {
        return w.TrayIcon()->contextMenu()->actions().at(2);
    }
    static QRgb Lamp(const QIcon& icon) { return icon.pixmap(16, 16).toImage().pixel(8, 8); }
};

TEST_F(Tray, TheMenuAndWhereThereIsNoTrayNoIcon) {
    TfrmTimer w;
    QStringList texts;
    for (QAction* action : w.TrayIcon()->contextMenu()->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(texts, (QStringList{"Show Quorvane", "Watching", "Start Session", "Usage History", "-", "Exit"}));
    EXPECT_TRUE(Entry(w, "Watching")->isCheckable());
    EXPECT_EQ(w.TrayIcon()->isVisible(), QSystemTrayIcon::isSystemTrayAvailable());
}

TEST_F(Tray, TheIconIsTheStateLampAndItsTooltipTheTaskbarTextWithTheCharges) {
    TfrmTimer w;
    const QRgb green = Lamp(w.ilIcons->Icon(0));
    const QRgb red = Lamp(w.ilIcons->Icon(1));
    EXPECT_EQ(Lamp(w.TrayIcon()->icon()), red);
    EXPECT_EQ(w.TrayIcon()->toolTip(), "E: 000:00:00");

    w.cbDetection->setCurrentIndex(2);
    w.ckEnableBilling->setChecked(true);
    w.eFreeHours->setText("0");
    w.ePrice->setText("1.00"); // a minute
    w.Timers.TotalTime = 60;
    w.sbManual->click();
    EXPECT_EQ(Lamp(w.TrayIcon()->icon()), green);
    Tick(w, 1);
    Tick(w, 60);
    EXPECT_EQ(w.TrayIcon()->toolTip(), "E: 000:01:00\nCharges: $2.00");
    w.ckEnableBilling->setChecked(false);
    EXPECT_EQ(w.TrayIcon()->toolTip(), "E: 000:01:00");
    w.sbManual->click();
    EXPECT_EQ(Lamp(w.TrayIcon()->icon()), red);

    // Coloured for watching, the lamp follows watching instead.
    w.ckColoredIconWatching->setChecked(true);
    w.cbDetection->setCurrentIndex(0);
    Entry(w, "Watching")->trigger();
    EXPECT_EQ(Lamp(w.TrayIcon()->icon()), green);
    Entry(w, "Watching")->trigger();
    EXPECT_EQ(Lamp(w.TrayIcon()->icon()), red);
}

TEST_F(Tray, AClickShowsTheWindowOrHidesIt) {
    TfrmTimer w;
    int lastClosed = 0;
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, [&] { ++lastClosed; });
    ASSERT_TRUE(w.isMinimized());
    const auto click = [&w] { emit w.TrayIcon()->activated(QSystemTrayIcon::Trigger); };
    click();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());
    click();
    EXPECT_FALSE(w.isVisible());
    // The second half of a double click does nothing more.
    emit w.TrayIcon()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(w.isVisible());
    click();
    EXPECT_TRUE(w.isVisible());
    w.hide();
    Entry(w, "Show Quorvane")->trigger();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(lastClosed, 0) << "hidden is not closed";
}

TEST_F(Tray, WatchingFollowsItsButtonAndRunsItsHandler) {
    TfrmTimer w;
    QAction* watching = Entry(w, "Watching");
    w.cbDetection->setCurrentIndex(0);
    EXPECT_TRUE(watching->isEnabled());
    EXPECT_FALSE(SessionEntry(w)->isVisible()) << "Manual method only";

    watching->trigger();
    EXPECT_TRUE(w.sbWatching->isChecked());
    EXPECT_TRUE(w.tWatching->isActive());
    EXPECT_FALSE(w.btnSave->isEnabled()) << "locked while watching";
    EXPECT_TRUE(watching->isChecked());
    w.sbWatching->click();
    EXPECT_FALSE(watching->isChecked());
    EXPECT_FALSE(w.tWatching->isActive());

    // Disabled whenever the button is: in a session, and with the Manual method.
    w.StartSession();
    EXPECT_FALSE(watching->isEnabled());
    watching->trigger();
    EXPECT_FALSE(w.tWatching->isActive());
    w.StopSession();
    EXPECT_TRUE(watching->isEnabled());
    w.cbDetection->setCurrentIndex(2);
    EXPECT_FALSE(watching->isEnabled());
}

TEST_F(Tray, StartAndStopSessionFollowTheManualButton) {
    TfrmTimer w;
    w.cbProvider->setEditText(QStringLiteral("Dial Net"));
    w.cbDetection->setCurrentIndex(2);
    QAction* session = SessionEntry(w);
    ASSERT_TRUE(session->isVisible());
    EXPECT_EQ(session->text(), "Start Session");

    session->trigger();
    EXPECT_TRUE(w.sbManual->isChecked());
    EXPECT_TRUE(w.tOnLine->isActive());
    EXPECT_EQ(w.ActivePageName(), "Timer");
    EXPECT_EQ(session->text(), "Stop Session");
    Tick(w, 1);
    Tick(w, 30);
    session->trigger();
    EXPECT_FALSE(w.tOnLine->isActive());
    EXPECT_EQ(session->text(), "Start Session");
    ProfileTotals stored{};
    LoadProfileTotals("Dial Net", stored);
    EXPECT_EQ(stored[3], 30) << "saved as the button's stop saves";

    // A provider loaded with another method takes the entry away.
    w.cbDetection->setCurrentIndex(1);
    EXPECT_FALSE(session->isVisible());
    EXPECT_FALSE(session->isEnabled());
}

TEST_F(Tray, ExitEndsTheProgramAsTheButtonDoes) {
    TfrmTimer w;
    w.cbProvider->setEditText(QStringLiteral("Dial Net"));
    w.cbDetection->setCurrentIndex(2);
    w.sbManual->click();
    Tick(w, 1);
    Tick(w, 30);
    QTimer::singleShot(0, &w, [&w] { Entry(w, "Exit")->trigger(); });
    EXPECT_EQ(QApplication::exec(), 0);
    ProfileTotals stored{-1, -1, -1, -1};
    LoadProfileTotals("Dial Net", stored);
    EXPECT_EQ(stored[3], -1) << "a session is not saved by Exit";
}

} // namespace
