#pragma once

#include "shell/programcore.h"
#include "shell/programpaths.h"
#include "shell/programview.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <array>

class QAction;
class QComboBox;
class QDateEdit;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QSplitter;
class QToolBar;
class TConsoleForm;
class TAboutBox;
class TCOMportSettingsForm;
class TIOForm;
class TComponentsList;
class TStatusBar;
class TWeighingsGrid;

// The main window: it builds the widgets, shows what the program core reports and forwards the
// operator's actions to it. The core owns the table, the port, the poll cycle, the buttons and the
// settings, and runs the start-up and the close.
class TMainForm : public QMainWindow, public ProgramView {
    Q_OBJECT

public:
    // `seams` replace the clock, the log, the port or the timers of the core (tests).
    explicit TMainForm(const ProgramPaths& paths, const ProgramCoreSeams& seams = {},
                       QWidget* parent = nullptr);
    ~TMainForm() override;

    // Runs the start-up. An error that ends it (a table that can be neither opened nor created,
    // an unreadable font colour) is returned as its text; empty on success.
    QString initialise();

    // The other windows, created right after this one (the console reads a check mark of this
    // window when it is created).
    void setConsoleForm(TConsoleForm* console);
    void setAboutBox(TAboutBox* about);
    void setPortSettingsForm(TCOMportSettingsForm* form);
    void setIOForm(TIOForm* form);

    ProgramCore& core() { return *m_core; }

    // "Обмен данными": the console is shown exactly while it is checked.
    QAction* showConsoleAction() const { return Showconsolewindow1; }

    bool isClosed() const;

    // PollView
    void setWeightText(const QString& text) override;
    void setLastWeighingText(const QString& text) override;
    void setComponentRow(int row, const QString& sum, const QString& count,
                         const QString& date) override;
    void setPortStatusText(const QString& text) override;
    void setLinkStatusText(const QString& text) override;
    void setLinkState(LinkState state) override;
    void setExchangeLamp(bool active) override;
    void setCollectionAvailable(bool available) override;
    void setCollectionRunning(bool running) override;
    void showInputs(quint8 InputBits) override;
    void showOutputs(quint8 OutputBits) override;
    bool isIoStateTicked() const override;
    void appendConsoleLine(const QString& line) override;
    void resetButtonCursors() override;

    // ProgramView
    void applyWindowSettings(const AppSettings& settings) override;
    void collectWindowSettings(AppSettings& settings) const override;
    void showFilterDate(QDate today) override;
    void setRecordCountText(const QString& text) override;
    void showWeighings(WeighingsTable& table) override;
    void setAutostartChecked(bool checked) override;
    void ApplyButtons(const std::array<buttons_t, ExtraButtonCount>& buttons) override;
    void ApplyShowComponents(bool show) override;
    void showSettingsWriteError(const QString& text) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildActions();
    void buildMenu();
    void buildToolBar();
    void buildCentralArea();
    void buildPanel1(QWidget* parent);
    QAction* makeAction(const QString& objectName, const QString& text, int menuImage = -1);

    void connectActions();
    void SetFilterExecute();

    // Handlers of the operator's actions that are not the core's alone.
    void mExitClick();
    void mHelpClick();
    void mLinkClick();
    void mAboutClick();
    void tbexClick(int button);
    void mSetupComClick();
    void mIOstateClick();
    // Shows the boxes the core owes the operator, one at a time.
    void showNotices();

    ProgramCore* m_core = nullptr;
    QPointer<TCOMportSettingsForm> m_portSettings;
    QPointer<TIOForm> m_io;

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
