#pragma once

#include "base/appsettings.h"
#include "commands/extrabuttons.h"
#include "link/pollview.h"
#include "shell/programpaths.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <memory>

class QAction;
class QComboBox;
class QDateEdit;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QSplitter;
class QTimer;
class QToolBar;
class TConsoleForm;
class TAboutBox;
class PollCycle;
class QtPollTimers;
class TComPort;
class TCOMportSettingsForm;
class TIOForm;
class TComponentsList;
class TStatusBar;
class TWeighingsGrid;
class WeighingStore;
class WeighingsTable;

// The main window: it owns everything that lives longer than one dialog and brings every
// subsystem up at construction and down at close. It shows what the poll cycle reports and
// forwards the operator's actions to it.
class TMainForm : public QMainWindow,
                  public PollView,
                  public PollSettingsWriter,
                  public PollEventLog {
    Q_OBJECT

public:
    explicit TMainForm(const ProgramPaths& paths, QWidget* parent = nullptr);
    ~TMainForm() override;

    // Runs the construction steps after the widgets exist. An error that ends the start-up
    // (table that can be neither opened nor created, an unreadable font colour) is returned as
    // its text; empty on success.
    QString initialise();

    // The other windows, created right after this one (the console reads a check mark of this
    // window when it is created).
    void setConsoleForm(TConsoleForm* console);
    void setAboutBox(TAboutBox* about);
    void setPortSettingsForm(TCOMportSettingsForm* form);
    void setIOForm(TIOForm* form);

    PollCycle& poll() { return *m_poll; }

    // "Обмен данными": the console is shown exactly while it is checked.
    QAction* showConsoleAction() const { return Showconsolewindow1; }

    const ProgramPaths& paths() const { return m_paths; }
    bool isClosed() const { return m_closed; }

    // Fields of the main window that are not the poll cycle's.
    bool ShowComponents = true;
    bool Autorun = false;
    bool AllowMultiple = false;
    QString IniFileName;

    // PollView
    void setWeightText(const QString& text) override;
    void setLastWeighingText(const QString& text) override;
    void setComponentRow(int row, const QString& sum, const QString& count,
                         const QString& date) override;
    void setPortStatusText(const QString& text) override;
    void setLinkStatusText(const QString& text) override;
    void setLinkState(int state) override;
    void setExchangeLamp(bool active) override;
    void setCollectionAvailable(bool available) override;
    void setCollectionRunning(bool running) override;
    void showInputs(quint8 InputBits) override;
    void showOutputs(quint8 OutputBits) override;
    bool isIoStateTicked() const override;
    void appendConsoleLine(const QString& line) override;
    void resetButtonCursors() override;
    void showCommandCompleted(const QString& caption, const QString& text) override;
    void showPortWriteError() override;
    void showBusyCommand() override;
    void showStorageFailure(const QString& text) override;

    // PollSettingsWriter, PollEventLog
    void writeStoredCounter(quint32 StoredCounter) override;
    void WriteLog(const QString& text) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildActions();
    void buildMenu();
    void buildToolBar();
    void buildCentralArea();
    void buildPanel1(QWidget* parent);
    void buildTimers();
    QAction* makeAction(const QString& objectName, const QString& text, int menuImage = -1);

    void applySettings(const AppSettings& s);
    AppSettings collectSettings() const;
    void SetFilterExecute();
    void Table1AfterDelete();

    // Handlers of the shell's own menu entries.
    void mExitClick();
    void mHelpClick();
    void mLinkClick();
    void mAboutClick();
    void AlarmTimer();
    void bHideClick();
    void tbexClick(QAction* button);
    void mSetupComClick();
    void mDeviceAutostartClick();
    void mIOstateClick();

    void ApplyButtons();
    void ApplyShowComponents();

    void FormClose();
    QString openWeighingsTable();
    void createLink();
    QString portDeviceName(int index) const;

    ProgramPaths m_paths;
    bool m_closed = false;
    std::unique_ptr<WeighingsTable> Table1;
    WeighingStore* m_store = nullptr;
    TComPort* m_port = nullptr;
    QtPollTimers* m_timers = nullptr;
    PollCycle* m_poll = nullptr;
    ExtraButtons m_buttons;
    QPointer<TCOMportSettingsForm> m_portSettings;
    QPointer<TIOForm> m_io;
    // Settings kept as read until the window that owns them exists (grid column widths, the
    // list's font colour as stored).
    AppSettings m_settings;

    QList<QIcon> m_imageList1; // tool bar, 32 x 32
    QPointer<TConsoleForm> m_console;
    QPointer<TAboutBox> m_about;

    // Components named as the operator's documentation names them.
    QToolBar* ToolBar1 = nullptr;
    QAction* tbSuper = nullptr;
    QAction* tbPrint = nullptr;
    QAction* tbRefresh = nullptr;
    QAction* separator2 = nullptr;
    std::array<QAction*, 8> tbex{};
    QSplitter* Splitter1 = nullptr;
    TComponentsList* lvComponents = nullptr;
    TWeighingsGrid* DBGridEh1 = nullptr;
    QFrame* Panel1 = nullptr;
    QGroupBox* gbWeight = nullptr;
    QLabel* LabelWeight = nullptr;
    QFrame* XchangeFreqDisp = nullptr;
    QGroupBox* gbShippingWeight = nullptr;
    QLabel* LabelShippingWeight = nullptr;
    QGroupBox* gbFilter = nullptr;
    QDateEdit* DateTimePicker1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    TStatusBar* StatusBar = nullptr;
    QTimer* Alarm = nullptr;

    QMenu* PopupMenu1 = nullptr;
    QMenu* PopupMenu2 = nullptr;
    QMenu* pmComponents = nullptr;

    // Main menu entries and actions.
    QAction* mNew = nullptr;
    QAction* Print = nullptr;
    QAction* PageSetup = nullptr;
    QAction* Preview = nullptr;
    QAction* mExit = nullptr;
    QAction* mSetupCom = nullptr;
    QAction* mButtonsSetup = nullptr;
    QAction* mFontSetup = nullptr;
    QAction* WeightsFont = nullptr;
    QAction* mSetup = nullptr;
    QAction* mDeviceGo = nullptr;
    QAction* mDeviceWait = nullptr;
    QAction* mDeviceAutostart = nullptr;
    QAction* mIOstate = nullptr;
    QAction* mComponents = nullptr;
    QAction* Showconsolewindow1 = nullptr;
    QAction* mHelp = nullptr;
    QAction* mLink = nullptr;
    QAction* mAbout = nullptr;
    QAction* SetFilter = nullptr;
    QAction* CopyC = nullptr;
    QAction* SelectAllC = nullptr;
    QAction* FontC = nullptr;
};
