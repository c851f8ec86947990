#pragma once
// The main window: a toolbar over a notebook of seven pages (five of settings, one to adjust the
// timers, one with the clocks). The controls are the data: every setting lives in a control whose
// objectName is its name, and provider profiles are stored by walking `components`.

#include "accounting/data_volume.h"
#include "accounting/timevalues.h"
#include "core/version.h"
#include "settings/history.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QFrame;
class QGridLayout;
class QGroupBox;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSocketNotifier;
class QSpinBox;
class QStackedWidget;
class QSystemTrayIcon;
class QTimer;
class QToolButton;
class QVBoxLayout;

namespace quorvane {

enum class AdjustableTimer;
struct BillingInputs;
struct ProfileForm;
struct HistoryView;
class THistoryWindow;
class SessionTick;
class TAboutBox;
class TAlarmPlayer;
class TComm32;
class THelpViewer;
class InterfaceWatch;
class NetInterfaceSource;
class NetlinkInterfaces;
class TImageList;
class TNetworkManager;
class TNotifier;
class TSaveDialog;
class TSessionKeeper;
class WindowTitleSource;

// The user's guide, looked for in the executable's folder.
inline constexpr char kHelpFileName[] = "quorvane.hlp";
// Shown by the help command when the guide is missing.
inline constexpr char kHelpMissingMessage[] =
    "Help file was not found in the Quorvane folder.\r\nPlease re-install Quorvane or contact "
    "the author for a new file.";

// A stopped session whose save could not be made is tried again this often, each try waiting
// this long for another program's write lock, so the window is never held for longer.
inline constexpr int kSaveRetryMs = 10 * 1000;
inline constexpr int kSaveRetryWaitMs = 200;

// A component's tag, kept in its dynamic property "tag" (0 when never set). The Toggles page's
// four check boxes carry 99; `tOnLine`'s tag is the first-tick flag of a session.
int Tag(const QObject* component);
void SetTag(QObject* component, int tag);

// The detection methods, as cbDetection lists them.
enum DetectionMethodCode : int { kTcpIp = 0, kComPort = 1, kManual = 2, kNetworkInterface = 3 };

class TfrmTimer : public QWidget {
    Q_OBJECT
public:
    // Builds every control, then runs the window's creation steps, which end with the window
    // minimised to its taskbar entry; finally creates the About dialog.
    explicit TfrmTimer(QWidget* parent = nullptr);
    ~TfrmTimer() override;

    // Every component the window owns, in creation order (controls and non-visual members).
    std::vector<QObject*> components;
    // The component of that name, letter case ignored; nullptr when there is none.
    QObject* FindComponent(const QString& name) const;

    // The taskbar text: the window's icon text and the tray icon's tooltip (there with the
    // charges when billing is on).
    void SetApplicationTitle(const QString& title);
    QString ApplicationTitle() const { return applicationTitle_; }

    // Shows image `index` of ilIcons (0 green, 1 red) as the program's and the window's icon
    // and as the tray icon, which starts with the red one. Any other index changes nothing.
    void SetStateIcon(int index);
    // Save (both), Delete, About, Previous and Next are enabled exactly while sbWatching is up.
    void LockWhileWatching();

    // The program's running totals: the loaded provider's four timers and the alarm flag.
    TimerSet Timers;
    // The loaded provider's data totals (counted with the Network Interface method), and which
    // alerts of its data allowance have fired in the billing cycle (accounting/
    // data_allowance.h).
    DataTotals Data;
    int DataAlerts = 0;

    // The selected detection method: 0 TCP/IP, 1 COM Port, 2 Manual (also when none is),
    // 3 Network Interface.
    int DetectionMethod() const;
    // Begins a session: the buttons' states, the lamp, the first-tick flag, tOnLine started.
    void StartSession();
    // Ends a session (or none): the buttons' states, the lamp, tOnLine stopped, the provider
    // saved with its totals, the log line written when logging is on, and the program ended
    // when "Close Quorvane on disconnect" is checked. A session's totals go to the provider it
    // started with, whatever name the provider box shows by then. A save that cannot be made is
    // told once, and the session is kept until a later save makes it (tSaveRetry).
    void StopSession();
    // The four totals and the charges into their read-outs.
    void ShowAllTimers();
    // The dial-up connections' names as cbProv's list; its text, the seek text, stays as it is.
    // Run when the user comes to the list (it drops down or takes the focus).
    void FillDialUpProfiles();
    // The taskbar text from the timer cbMinimizedTime names (Elapsed when none is selected).
    void UpdateMinimizedCaption();
    // Where the watching tick reads the desktop's window captions; the desktop's own unless a
    // test gives another.
    void SetWindowTitleSource(WindowTitleSource& source) { windowTitles_ = &source; }
    // Where the Network Interface method reads the interfaces: the kernel's, opened when first
    // needed (watching switched on with the method, the list dropped down, a watching tick),
    // unless a test gives another before.
    void SetInterfaceSource(NetInterfaceSource& source);
    InterfaceWatch& Interfaces();
    // What NetworkManager says of its connections; made with the interfaces' source.
    TNetworkManager* NetworkManager() const { return networkManager_; }
    // The interfaces' names and NetworkManager's connection names as eInterface's list; its
    // text stays as it is. Filled when the method is shown once the interfaces are open, and
    // whenever the list drops down.
    void FillInterfaceList();
    // The data totals, and the share of the allowance, into their read-outs.
    void ShowDataTotals();

    // Window to store (load false) or store to window (load true) for the provider named in
    // cbProvider, with its four totals in `timers`. A save records the day its Today counts for:
    // `savedFor`, or today. A load starts Today from 0 when the provider's totals were saved
    // for another day.
    bool TransferProviderSettings(bool load, TimerSet& timers,
                                  std::optional<DateTime> savedFor = std::nullopt);
    // Fills cbProvider with the stored providers; with selectDefault, shows the default one.
    bool FillProviderList(bool selectDefault);
    // The pages brought into line with the provider just loaded: the detection, billing, peak
    // and logging choices applied, and the read-outs and the taskbar text set from the loaded
    // totals.
    void RefreshSettingsPages();
    // The day and billing-cycle checks: each stores what it saw and adds its message to `notes`;
    // true when its clear is due (Today; all four totals), which the caller then makes before
    // the messages are shown.
    bool CheckNewDay(QStringList& notes);
    bool CheckCycleDay(QStringList& notes);
    // The charges text of the loaded provider's plan; may sound the free-hours alarm.
    QString FormatCharges();
    // Puts a session's line at the top of the log file named in eLogFile; false when it could
    // not be written (nothing is shown).
    bool WriteSessionLog(const TimerSet& timers, const QString& charges);
    // Starts the file named in eWavAlarm playing and returns at once, or says why it cannot:
    // a missing file at once, a file that does not play when mpWav has tried.
    void PlayWavAlarm();

    // The page named so ("Provider", ..., "Adjust Timers", "Timer"), letter case ignored.
    QWidget* Page(const QString& name) const;
    QString ActivePageName() const;
    void SetActivePage(const QString& name);

    // Where the help command looks for the guide; the executable's folder unless set.
    void SetHelpFolder(const QString& folder) { helpFolder_ = folder; }
    QString HelpFilePath() const;
    // The help viewer, once the help command has opened it.
    THelpViewer* HelpViewer() const { return helpViewer_; }
    // The program's handle in the desktop's tray, where there is one: a click shows the window
    // or hides it; its menu runs the toolbar's handlers.
    QSystemTrayIcon* TrayIcon() const { return trayIcon_; }
    // Desktop notifications: the free hours used up, a session log line that was lost.
    TNotifier* Notifier() const { return notifier_; }

    // Toolbar.
    QFrame* pToolBar;
    QToolButton* sbPrevious;
    QToolButton* sbNext;
    QToolButton* sbWatching;
    QToolButton* sbOverRide;
    QToolButton* sbManual;
    QToolButton* sbSave;
    QToolButton* Ask4Help;
    QToolButton* AboutUs;
    QToolButton* Leave;

    // The notebook and its pages, in order.
    QStackedWidget* nbMain;
    QWidget* pgProvider;
    QWidget* pgDetection;
    QWidget* pgBilling;
    QWidget* pgLogging;
    QWidget* pgToggles;
    QWidget* pgAdjustTimers;
    QWidget* pgTimer;

    // "Provider".
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label11;
    QComboBox* cbProvider;
    QPushButton* btnDelete;
    QCheckBox* ckSetAsDefault;
    QPushButton* btnSave;

    // "Detection".
    QLabel* Detect1;
    QLabel* Label10;
    QComboBox* cbDetection;
    QLabel* lProvider;
    QComboBox* cbProv;
    QFrame* pCOMPort;
    QLabel* lblCOMPort;
    QSpinBox* seCOMPort;
    QLabel* lblDelay;
    QSpinBox* seDelayMin;
    QLabel* lblMin;
    QSpinBox* seDelaySec;
    QLabel* lblSec;
    // Shown with the seek text when this desktop offers no window captions to read.
    QLabel* lCaptionNote;
    // Shown with the seek text on a Wayland desktop, where only X11 programs' captions can be
    // read.
    QLabel* lWaylandNote;
    // The Network Interface method: an interface's name, a pattern or a NetworkManager
    // connection's name (stored as "eInterface"), with a line on what it takes.
    QFrame* pInterface;
    QLabel* lInterface;
    QComboBox* eInterface;
    QLabel* lInterfaceNote;
    // The device that the COM port number means.
    QLabel* lPortDevice;

    // "Billing".
    QCheckBox* ckEnableBilling;
    QFrame* pBilling;
    QLabel* Label9;
    QLineEdit* eFreeHours;
    QLabel* lPricePer;
    QLabel* lCurrency;
    QLineEdit* ePrice;
    QLabel* Label13;
    QSpinBox* seCycleDay;
    QLabel* Label8;
    QLineEdit* eWavAlarm;
    QToolButton* sbWavBrowse;
    QToolButton* sbWavPlay;
    QToolButton* sbClearWav;
    QCheckBox* ckEnablePeak;
    QFrame* pPeak;
    QLabel* Label15;
    QLineEdit* eStart;
    QLabel* Label20;
    QLineEdit* eStop;
    // The data allowance per billing cycle in MB (empty or 0: none), and whether it counts
    // what is received only.
    QFrame* pDataAllowance;
    QLabel* lblDataAllowance;
    QLineEdit* eDataAllowance;
    QLabel* lblDataMB;
    QCheckBox* ckDataRxOnly;
    // Shown while the allowance's text is not a whole number of megabytes (loaded so): no
    // allowance is counted until it is put right.
    QLabel* lDataAllowanceNote;

    // "Logging".
    QLabel* Label14;
    QCheckBox* ckEnableLogging;
    QFrame* pLogging;
    QLabel* Label16;
    QLineEdit* eLogFile;
    QToolButton* sbLogBrowse;
    QToolButton* sbClearLog;

    // "Toggles".
    QCheckBox* ckStartWhenRun;
    QCheckBox* ckCloseOnDisconnect;
    QLabel* Label28;
    QComboBox* cbMinimizedTime;
    QCheckBox* ckWatchOnRun;
    QCheckBox* ckColoredIconWatching;

    // "Adjust Timers".
    QLabel* lblSelectTimer;
    QLabel* lblUseArrows;
    QLabel* lblAdjustedValueNote;
    QGroupBox* gbAvailableTimers;
    QRadioButton* rbToday;
    QRadioButton* rbTotalTime;
    QRadioButton* rbOutsidePeak;
    QRadioButton* rbInsidePeak;
    QGroupBox* gbAdjustTimers;
    QLabel* lblCurrValue;
    QLabel* lCurrValue;
    QLabel* lblAdjValue;
    QLabel* lAdjValue;
    QLabel* lblHours;
    QSpinBox* seAdjHour;
    QLabel* lblMinutes;
    QSpinBox* seAdjMin;
    QPushButton* btnReset;
    QPushButton* btnAdjust;
    QPushButton* btnClearAll;
    QPushButton* btnHistory;

    // "Timer": eight read-outs, each a group box around one label.
    QGroupBox* gbCurrent;
    QLabel* lCurrent;
    QGroupBox* gbStart;
    QLabel* lStart;
    QGroupBox* gbElapsed;
    QLabel* lElapsed;
    QGroupBox* gbCharges;
    QLabel* lCharges;
    QGroupBox* gbToday;
    QLabel* lToday;
    QGroupBox* gbTotalTime;
    QLabel* lTotalTime;
    QGroupBox* gbInsidePeak;
    QLabel* lInsidePeak;
    QGroupBox* gbOutsidePeak;
    QLabel* lOutsidePeak;
    // With the Network Interface method: the data received and sent today and since the cycle
    // day, and the share of the allowance used when there is one.
    QGroupBox* gbDataToday;
    QLabel* lDataToday;
    QGroupBox* gbDataTotal;
    QLabel* lDataTotal;
    QGroupBox* gbDataAllowance;
    QLabel* lDataAllowance;

    // Non-visual members. A session runs exactly while tOnLine is active; watching is on exactly
    // while tWatching is active. Both tick every 1000 ms.
    TImageList* ilIcons;
    QTimer* tOnLine;
    QTimer* tWatching;
    // Runs the day and cycle checks again at each local midnight, and within a minute of the
    // wall clock jumping to another day (a resume from suspend, the clock set).
    QTimer* tRollover;
    // Runs while a stopped session's save is still to be made (the store held by another
    // program when it stopped): each run tries it once, briefly, and comes again while it fails.
    QTimer* tSaveRetry;
    TSaveDialog* sdBrowse;
    TAlarmPlayer* mpWav;
    // The serial port component of the COM Port probe.
    std::unique_ptr<TComm32> Comm32;

    // Shown by the About command; made at its first use, which most starts never see.
    TAboutBox* AboutBox();

public slots:
    // The program is restored from its taskbar entry or tray icon: show the window in front.
    void OnRestore();
    // "Exit": ends the program at once, without any of the close steps.
    void LeaveClick();
    // "Help": the user's guide at its contents, or a note that it is missing.
    void Ask4HelpClick();

    // The Provider page: Save (the button and the toolbar's), the name box, Delete.
    void btnSaveClick();
    void sbSaveClick();
    void cbProviderChange();
    void btnDeleteClick();
    // The Billing page's play button.
    void sbWavPlayClick();

    // The pages: Previous and Next, the page change, a provider picked from the list, the
    // detection method.
    void sbPreviousClick();
    void sbNextClick();
    void nbMainPageChanged();
    void cbProviderClick();
    void cbDetectionClick();
    // The checks of a field the user leaves: a failed one says why and gives the field the
    // focus back. They run when the user moves on within the window, never when a provider is
    // loaded, the page changes or the window is left, closed or minimised.
    void ePriceExit();
    void eStartExit(QObject* sender);
    // Shared by the two browse buttons, the two clear buttons and the two panels; `sender` says
    // which one.
    void sbWavBrowseClick(QObject* sender);
    void sbClearWavClick(QObject* sender);
    void pBillingMouseMove(QObject* sender);
    // The "Enable" boxes show or hide their panels; the free hours choose the price rule.
    void ckEnableBillingClick();
    void ckEnablePeakClick();
    void ckEnableLoggingClick();
    void eFreeHoursChange();

    // Sessions: the two timers and the three buttons that steer detection.
    void tOnLineTimer();
    void tWatchingTimer();
    void sbWatchingClick();
    void sbManualClick();
    void sbOverRideClick();

    // The Adjust Timers page.
    void rbTodayClick();
    void rbTotalTimeClick();
    void rbInsidePeakClick();
    void rbOutsidePeakClick();
    void seAdjHourChange();
    void btnAdjustClick();
    void btnResetClick();
    void btnClearAllClick();
    // Opens the Usage History window, made at the first opening, in front.
    void btnHistoryClick();

    // "About": watching is paused while the dialog is open.
    void AboutUsClick();
    // tRollover: the checks run again when the local date has changed since the last run.
    void tRolloverTimer();
    // tSaveRetry: the stopped sessions' save, tried again.
    void tSaveRetryTimer();
    // The interfaces' source has changes, or NetworkManager has: sessions start and stop at
    // once while watching with the Network Interface method.
    void InterfacesChanged();
    // The data allowance field is left: it takes whole megabytes.
    void eDataAllowanceExit();
    // Before a save of the provider: an allowance that is not a whole number of megabytes is
    // refused with the field's message, on its page; false then.
    bool DataAllowanceSavable();

protected:
    void changeEvent(QEvent* event) override;
    // Focus leaving the checked fields, and the mouse over the two panels.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Closing the window stops a running session, saves, and ends the program.
    void closeEvent(QCloseEvent* event) override;

private:
    template <class T> T* Make(QWidget* parent, const char* name);
    QWidget* MakePage(const char* name, const QString& heading);
    QToolButton* MakeToolButton(const char* name, const QString& hint, int standardIcon);
    void CreateToolBar();
    void CreateProviderPage();
    void CreateDetectionPage();
    void CreateBillingPage();
    void CreateLoggingPage();
    void CreateTogglesPage();
    void CreateAdjustTimersPage();
    void CreateTimerPage();
    void CreateNonVisual();

    void ConnectProviderHandlers();
    void ConnectSessionHandlers();
    void ConnectPageHandlers();
    void ConnectAdjustHandlers();
    // The check of a field the user has just left, run once the focus has settled.
    void QueueExitCheck(QLineEdit* field);
    // A failed check's note, and the focus back to its field.
    void Complain(QLineEdit* field, const QString& text);
    AdjustableTimer SelectedAdjustTimer() const;
    // The page's current value and adjusted value for that timer.
    void ShowAdjustTimer(AdjustableTimer which);
    // The loaded provider with its totals; a running session's peak sides come up to its last
    // tick first.
    void SaveTotals();
    // A load or a save of the form's provider; the window then holds that provider.
    bool TransferProfile(const ProfileForm& form, bool load, TimerSet& timers,
                         std::optional<DateTime> savedFor = std::nullopt);
    // The totals alone of the provider they are counted for (the running session's, or the one
    // the window holds), when it is stored: what the day and cycle clears write.
    void SaveClearedTotals();
    // The provider whose totals are counted now: the running session's, or the one the window
    // holds.
    QString TotalsProvider() const;
    // StopSession, and the program ends only when `mayEndProgram` and the toggle say so. A
    // session that has ticked leaves its row in the usage history, ended `how`.
    void EndSession(bool mayEndProgram, SessionEnd how = SessionEnd::Stopped);
    // The running session as a save that ends a stretch of it at `end` gives it to the usage
    // history; its bytes when the session counts them.
    SessionSoFar SessionStretch(SessionEnd how, DateTime end, bool bytesCounted) const;
    // What FormatCharges shows, without telling or sounding anything.
    QString ChargesText() const;
    BillingInputs Billing() const;
    // A running session ends with its provider before another is loaded, as its own control
    // would end it: a manual session's button comes up; watching goes on.
    void EndSessionForProviderChange();
    // Manual detection has no watching: watching ends as its button would end it, with any
    // session it started, and the Manual button starts up.
    void LeaveWatchingForManual();
    // The provider the provider box names into the controls and the timer set, then the pages.
    void LoadProvider();
    // Both checks with their clears and saves; their messages go to `notes`, to be shown once
    // the clears are made (a box waits for the user while the session goes on counting).
    void RollOverTotals(QStringList& notes);
    // Information boxes one after the other.
    void ShowNotes(const QStringList& notes);
    // Next run of tRollover: at the coming local midnight, and at least once a minute.
    void ArmRolloverTimer();
    void StartSessionOnTimerPage();
    // The COM Port branch of the watching tick: a port that cannot be opened means online.
    void ProbeComPort();
    // Watching or a manual session, as the loaded provider's toggles say.
    void StartWatchingOrSession();
    void FormCreate();
    // Recovers a session cut short, loads the default provider, brings the totals up to date
    // and starts watching or a manual session as the provider's toggles say; answers what the
    // user is to be told of it.
    QStringList StartUpSequence();
    // A session's state left in the store by a kill, a crash or a power cut: its time goes into
    // its provider's totals, its line into that provider's log, and the message for the user
    // into `notes`.
    void RecoverCutSession(QStringList& notes);
    // A stop's save could not be made: the session is kept for a later save, tSaveRetry runs,
    // and the first such stop since the last save was made is told.
    void KeepUnsavedStop(const SessionSoFar& stretch);
    // What the provider forms of the window save and load, with the running session's state
    // when the save is of the session's provider; for `provider`, or the one cbProvider names.
    ProfileForm Form(std::optional<QString> provider = std::nullopt);
    // The session's line for `at` (Now() unless given) at the top of `file`; a lost line is told
    // once a run.
    bool WriteSessionLogTo(const QString& file, const TimerSet& timers, const QString& charges,
                           std::optional<DateTime> at = std::nullopt);
    // The tray icon with its menu; its clicks and menu answered once the window's creation has
    // attached them.
    void CreateTrayIcon();
    void AttachTrayIcon();
    void TrayIconClick();
    // The menu's entries brought into line with the toolbar buttons they stand for.
    void SyncTrayMenu();
    void UpdateTrayToolTip();
    void StartMinimised();
    // The Network Interface method's controls, read-outs and handlers (timer_network.cpp).
    void CreateNetworkParts();
    // The Usage History: the Timer page's button and the tray menu's entry, and the window's
    // refresh after each save.
    void CreateHistoryParts();
    HistoryView CurrentHistoryView() const;
    void HistoryChanged();
    // Its controls shown or hidden with the method; the list filled when it is chosen.
    void ShowNetworkControls();
    // The interfaces' changes taken in; with watching on and the method chosen, a session
    // started or stopped as the named interfaces are online or not.
    void WatchInterfaces();
    // WatchInterfaces once the current handler has finished, while watching with the method:
    // watching switched on, the method chosen, the text changed.
    void ScheduleInterfaceWatch();
    void AttachInterfaces(NetInterfaceSource& source);
    // A session's data: its start, each tick (after the day change, if any), its stop.
    void BeginSessionData();
    void SessionDataTick(bool dayChanged);
    void FinishSessionData();
    // The alerts of the data allowance that are due: a notification, and the alarm at 100 %.
    void CheckDataAllowance();
    // The Billing page's fields as numbers: the free hours (0 for none or a text that is not a
    // number), the data allowance in bytes (0 for none).
    std::int64_t FreeHours() const;
    std::uint64_t AllowanceBytes() const;
    // Today's data totals to zero, and with `all` the cycle's and its alerts too.
    void ClearData(bool all);
    // The allowance field marked when its text is no allowance it can take.
    void ShowAllowanceValidity();
    // What the allowance field takes, as its check and a refused save say it.
    QString DataAllowanceMessage() const;

    std::unique_ptr<SessionTick> session_;
    // The provider whose profile the window holds: last loaded or saved whole.
    QString profileName_;
    // The provider the running session started with; its saves and its state go to it.
    QString sessionProvider_;
    // The running session's state in the store, against a kill.
    std::unique_ptr<TSessionKeeper> keeper_;
    // The Detection page's place for the chosen method's own controls, and the seek text's
    // column in it.
    QGridLayout* methodPlace_ = nullptr;
    QVBoxLayout* seekTextColumn_ = nullptr;
    WindowTitleSource* windowTitles_ = nullptr;
    QString applicationTitle_;
    QString helpFolder_;
    QSystemTrayIcon* trayIcon_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QAction* trayShow_ = nullptr;
    QAction* trayWatching_ = nullptr;
    QAction* traySession_ = nullptr;
    QAction* trayExit_ = nullptr;
    QAction* trayHistory_ = nullptr;
    // Made at its first opening; a test or the user's window manager may delete it.
    QPointer<THistoryWindow> history_;
    TNotifier* notifier_ = nullptr;
    // Each notice is given once a program run.
    bool freeHoursTold_ = false;
    bool logFailureTold_ = false;
    THelpViewer* helpViewer_ = nullptr;
    TAboutBox* aboutBox_ = nullptr;
    bool restoreAttached_ = false;
    bool restoring_ = false;
    // The fields whose check waits for the focus to settle.
    std::vector<QLineEdit*> queuedChecks_;
    // When the day and cycle checks last ran.
    DateTime lastRolloverCheck_ = 0.0;
    // The Network Interface method's source (the kernel's unless a test set another), what it
    // watches with it, and NetworkManager.
    std::unique_ptr<NetlinkInterfaces> kernelInterfaces_;
    std::unique_ptr<InterfaceWatch> interfaceWatch_;
    // Goes before the source whose descriptor it watches.
    std::unique_ptr<QSocketNotifier> interfaceNotifier_;
    TNetworkManager* networkManager_ = nullptr;
};

} // namespace quorvane
