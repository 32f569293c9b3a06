#include "shell/tmainform.h"

#include "commands/tioform.h"
#include "link/modbus.h"
#include "link/tcomportsettingsform.h"
#include "shell/appinfo.h"
#include "shell/operatornotices.h"
#include "shell/programcore.h"
#include "shell/taboutbox.h"
#include "shell/tconsoleform.h"
#include "weighings/tcomponentslist.h"
#include "weighings/tstatusbar.h"
#include "weighings/tweighingsgrid.h"
#include "weighings/weighingstore.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QDesktopServices>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QIcon imageListIcon(int index) {
    return QIcon(QStringLiteral(":/icons/toolbar/%1.svg").arg(index, 2, 10, QLatin1Char('0')));
}

constexpr int ImageList1Count = 17;

} // namespace

TMainForm::TMainForm(const ProgramPaths& paths, const ProgramCoreSeams& seams, QWidget* parent)
    : QMainWindow(parent)
    , m_core(new ProgramCore(paths, *this, seams, this)) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(AppInfo::Title);
    setWindowIcon(QIcon(QStringLiteral(":/icons/kdm.svg")));
    setMinimumSize(666, 400);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    for (int i = 0; i < ImageList1Count; ++i)
        m_imageList1.append(imageListIcon(i));

    buildActions();
    buildMenu();
    buildToolBar();
    buildCentralArea();
    connectActions();
}

TMainForm::~TMainForm() = default;

QAction* TMainForm::makeAction(const QString& objectName, const QString& text, int menuImage) {
    auto* action = new QAction(text, this);
    action->setObjectName(objectName);
    if (menuImage >= 0)
        action->setIcon(imageListIcon(menuImage));
    return action;
}

void TMainForm::buildActions() {
    mNew = makeAction(QStringLiteral("mNew"), QStringLiteral("Обновить данные"), 11);
    Print = makeAction(QStringLiteral("Print"), QStringLiteral("Печать"), 16);
    PageSetup = makeAction(QStringLiteral("PageSetup"), QStringLiteral("Параметры страницы"));
    Preview = makeAction(QStringLiteral("Preview"), QStringLiteral("Предварительный просмотр"), 13);
    mExit = makeAction(QStringLiteral("mExit"), QStringLiteral("Выход"), 2);
    mSetupCom = makeAction(QStringLiteral("mSetupCom"), QStringLiteral("Интерфейс RS-232"), 9);
    mButtonsSetup = makeAction(QStringLiteral("mButtonsSetup"), QStringLiteral("Настройка кнопок"));
    mFontSetup = makeAction(QStringLiteral("mFontSetup"), QStringLiteral("Компоненты"));
    WeightsFont = makeAction(QStringLiteral("WeightsFont"), QStringLiteral("Шрифт"));
    mSetup = makeAction(QStringLiteral("mSetup"), QStringLiteral("Настройки программы..."));
    mDeviceGo = makeAction(QStringLiteral("mDeviceGo"), QStringLiteral("Начать опрос"), 1);
    mDeviceWait = makeAction(QStringLiteral("mDeviceWait"), QStringLiteral("Остановить опрос"), 2);
    mDeviceAutostart =
        makeAction(QStringLiteral("mDeviceAutostart"), QStringLiteral("Автоматический запуск"));
    mDeviceAutostart->setCheckable(true);
    mIOstate = makeAction(QStringLiteral("mIOstate"), QStringLiteral("Состояние входов/выходов"));
    mIOstate->setCheckable(true);
    mComponents = makeAction(QStringLiteral("mComponents"), QStringLiteral("Компоненты"));
    mComponents->setCheckable(true);
    Showconsolewindow1 =
        makeAction(QStringLiteral("Showconsolewindow1"), QStringLiteral("Обмен данными"));
    Showconsolewindow1->setCheckable(true);
    mHelp = makeAction(QStringLiteral("mHelp"), QStringLiteral("Помощь по работе с программой"));
    mLink = makeAction(QStringLiteral("mLink"), QStringLiteral("Посетить ") + AppInfo::MakerSite);
    mAbout = makeAction(QStringLiteral("mAbout"), QStringLiteral("О программе"));
    SetFilter = makeAction(QStringLiteral("SetFilter"), QString());
    CopyC = makeAction(QStringLiteral("CopyC"), QStringLiteral("Копировать"));
    SelectAllC = makeAction(QStringLiteral("SelectAllC"), QStringLiteral("Выделить все"));
    FontC = makeAction(QStringLiteral("FontC"), QStringLiteral("Изменить шрифт"));
}

void TMainForm::buildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    QMenu* mFile = bar->addMenu(QStringLiteral("Файл"));
    mFile->setObjectName(QStringLiteral("mFile"));
    mFile->addAction(mNew);
    mFile->addSeparator();
    mFile->addAction(Print);
    mFile->addAction(PageSetup);
    mFile->addAction(Preview);
    mFile->addSeparator();
    mFile->addAction(mExit);

    QMenu* view1 = bar->addMenu(QStringLiteral("Правка"));
    view1->setObjectName(QStringLiteral("View1"));
    view1->addAction(mSetupCom);
    view1->addAction(mButtonsSetup);
    QMenu* mFont = view1->addMenu(QStringLiteral("Шрифт"));
    mFont->setObjectName(QStringLiteral("mFont"));
    mFont->addAction(mFontSetup);
    QAction* mFontSetup2 = mFont->addAction(QStringLiteral("Отвесы"));
    mFontSetup2->setObjectName(QStringLiteral("mFontSetup2"));
    connect(mFontSetup2, &QAction::triggered, WeightsFont, &QAction::trigger);
    view1->addAction(mSetup);

    QMenu* run1 = bar->addMenu(QStringLiteral("Терминал"));
    run1->setObjectName(QStringLiteral("Run1"));
    run1->addAction(mDeviceGo);
    run1->addAction(mDeviceWait);
    run1->addAction(mDeviceAutostart);
    run1->addSeparator();
    run1->addAction(mIOstate);

    QMenu* mView = bar->addMenu(QStringLiteral("Вид"));
    mView->setObjectName(QStringLiteral("mView"));
    mView->addAction(mComponents);
    mView->addAction(Showconsolewindow1);

    QMenu* help1 = bar->addMenu(QStringLiteral("Помощь"));
    help1->setObjectName(QStringLiteral("Help1"));
    help1->addAction(mHelp);
    help1->addAction(mLink);
    help1->addAction(mAbout);

    // Drop-down and context menu of the print button.
    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    PopupMenu2->addAction(Print);
    PopupMenu2->addAction(PageSetup);
    PopupMenu2->addAction(Preview);

    // Context menu of the weighings grid.
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    QAction* gridFont = PopupMenu1->addAction(QStringLiteral("Изменить шрифт"));
    gridFont->setObjectName(QStringLiteral("N1"));
    connect(gridFont, &QAction::triggered, WeightsFont, &QAction::trigger);

    // Context menu of the component totals list.
    pmComponents = new QMenu(this);
    pmComponents->setObjectName(QStringLiteral("pmComponents"));
    pmComponents->addAction(CopyC);
    pmComponents->addAction(SelectAllC);
    pmComponents->addSeparator();
    pmComponents->addAction(FontC);
}

void TMainForm::buildToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(32, 32));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    auto addButton = [this](QAction* action) {
        ToolBar1->addAction(action);
        if (QWidget* button = ToolBar1->widgetForAction(action)) {
            button->setFixedSize(39, 38);
            button->setObjectName(action->objectName());
        }
    };

    tbSuper = makeAction(QStringLiteral("tbSuper"), QString());
    tbSuper->setIcon(m_imageList1.value(15));
    tbSuper->setToolTip(QStringLiteral("Сбор данных"));
    tbSuper->setCheckable(true);
    addButton(tbSuper);

    tbPrint = makeAction(QStringLiteral("tbPrint"), QString());
    tbPrint->setIcon(m_imageList1.value(16));
    tbPrint->setMenu(PopupMenu2);
    addButton(tbPrint);
    if (auto* button = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(tbPrint))) {
        button->setPopupMode(QToolButton::InstantPopup);
        button->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(button, &QWidget::customContextMenuRequested, this,
                [this, button](const QPoint& pos) { PopupMenu2->popup(button->mapToGlobal(pos)); });
    }

    tbRefresh = makeAction(QStringLiteral("tbRefresh"), QStringLiteral("Обновить данные"));
    tbRefresh->setIcon(m_imageList1.value(11));
    tbRefresh->setToolTip(QStringLiteral("Обновить суммы компонентов"));
    addButton(tbRefresh);
    connect(tbRefresh, &QAction::triggered, mNew, &QAction::trigger);

    separator2 = ToolBar1->addSeparator();
    separator2->setObjectName(QStringLiteral("separator2"));
    if (QWidget* divider = ToolBar1->widgetForAction(separator2))
        divider->setFixedWidth(12);

    for (int n = 1; n <= 8; ++n) {
        QAction* button = makeAction(QStringLiteral("tbex%1").arg(n), QString());
        button->setIcon(m_imageList1.value(n));
        button->setData(n - 1); // the tag: index of the command the button sends
        button->setVisible(false);
        addButton(button);
        tbex[n - 1] = button;
    }
}

void TMainForm::buildCentralArea() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("Central"));
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Splitter1 = new QSplitter(Qt::Horizontal, central);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setChildrenCollapsible(false);

    lvComponents = new TComponentsList(Splitter1);
    lvComponents->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvComponents, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        pmComponents->popup(lvComponents->viewport()->mapToGlobal(pos));
    });
    connect(lvComponents, &TComponentsList::componentDoubleClicked, this, [this](int row) {
        ComboBox1->setCurrentIndex(row);
        SetFilterExecute();
    });
    connect(CopyC, &QAction::triggered, lvComponents, &TComponentsList::CopyCClick);
    connect(SelectAllC, &QAction::triggered, lvComponents, &TComponentsList::SelectAllCClick);
    connect(FontC, &QAction::triggered, lvComponents, &TComponentsList::FontClick);
    connect(mFontSetup, &QAction::triggered, lvComponents, &TComponentsList::FontClick);

    DBGridEh1 = new TWeighingsGrid(Splitter1);
    DBGridEh1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(DBGridEh1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu1->popup(DBGridEh1->viewport()->mapToGlobal(pos));
    });
    connect(WeightsFont, &QAction::triggered, DBGridEh1, &TWeighingsGrid::WeightsFontExecute);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    layout->addWidget(Splitter1, 1);

    buildPanel1(central);
    layout->addWidget(Panel1);

    StatusBar = new TStatusBar(central);
    layout->addWidget(StatusBar);

    setCentralWidget(central);
}

void TMainForm::buildPanel1(QWidget* parent) {
    Panel1 = new QFrame(parent);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(60);
    auto* row = new QHBoxLayout(Panel1);
    row->setContentsMargins(2, 0, 2, 2);

    gbWeight = new QGroupBox(QStringLiteral("Текущий Вес"), Panel1);
    gbWeight->setObjectName(QStringLiteral("gbWeight"));
    auto* weightRow = new QHBoxLayout(gbWeight);
    weightRow->setContentsMargins(6, 2, 6, 2);
    XchangeFreqDisp = new QFrame(gbWeight);
    XchangeFreqDisp->setObjectName(QStringLiteral("XchangeFreqDisp"));
    XchangeFreqDisp->setFixedSize(10, 10);
    setExchangeLamp(false);
    LabelWeight = new QLabel(QStringLiteral("--"), gbWeight);
    LabelWeight->setObjectName(QStringLiteral("LabelWeight"));
    LabelWeight->setFont(QFont(QStringLiteral("Century Gothic"), 14, QFont::Bold));
    LabelWeight->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LabelWeight->setMinimumWidth(110);
    weightRow->addWidget(XchangeFreqDisp, 0, Qt::AlignTop);
    weightRow->addWidget(LabelWeight, 1);
    row->addWidget(gbWeight);

    gbShippingWeight = new QGroupBox(QStringLiteral("Последний отвес"), Panel1);
    gbShippingWeight->setObjectName(QStringLiteral("gbShippingWeight"));
    auto* shippingRow = new QHBoxLayout(gbShippingWeight);
    shippingRow->setContentsMargins(6, 2, 6, 2);
    LabelShippingWeight = new QLabel(gbShippingWeight);
    LabelShippingWeight->setObjectName(QStringLiteral("LabelShippingWeight"));
    LabelShippingWeight->setFont(QFont(QStringLiteral("Arial"), 12, QFont::Bold));
    LabelShippingWeight->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LabelShippingWeight->setMinimumWidth(190);
    LabelShippingWeight->setTextFormat(Qt::PlainText);
    shippingRow->addWidget(LabelShippingWeight, 1);
    row->addWidget(gbShippingWeight);

    gbFilter = new QGroupBox(QStringLiteral("Отвесы"), Panel1);
    gbFilter->setObjectName(QStringLiteral("gbFilter"));
    auto* filterRow = new QHBoxLayout(gbFilter);
    filterRow->setContentsMargins(6, 2, 6, 2);
    auto* label1 = new QLabel(QStringLiteral("Дата"), gbFilter);
    label1->setObjectName(QStringLiteral("Label1"));
    DateTimePicker1 = new QDateEdit(gbFilter);
    DateTimePicker1->setObjectName(QStringLiteral("DateTimePicker1"));
    DateTimePicker1->setCalendarPopup(true);
    DateTimePicker1->setDisplayFormat(QLocale::system().dateFormat(QLocale::ShortFormat));
    auto* label2 = new QLabel(QStringLiteral("Компонент"), gbFilter);
    label2->setObjectName(QStringLiteral("Label2"));
    ComboBox1 = new QComboBox(gbFilter);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    for (int i = 1; i <= 16; ++i)
        ComboBox1->addItem(QString::number(i));
    ComboBox1->setCurrentIndex(0);
    filterRow->addWidget(label1);
    filterRow->addWidget(DateTimePicker1);
    filterRow->addWidget(label2);
    filterRow->addWidget(ComboBox1);
    row->addWidget(gbFilter);
    row->addStretch(1);
}

QString TMainForm::initialise() {
    return m_core->Start();
}

bool TMainForm::isClosed() const {
    return m_core->isClosed();
}

void TMainForm::connectActions() {
    ProgramCore* core = m_core;
    connect(mExit, &QAction::triggered, this, &TMainForm::mExitClick);
    connect(mHelp, &QAction::triggered, this, &TMainForm::mHelpClick);
    connect(mLink, &QAction::triggered, this, &TMainForm::mLinkClick);
    connect(mAbout, &QAction::triggered, this, &TMainForm::mAboutClick);
    connect(mSetupCom, &QAction::triggered, this, &TMainForm::mSetupComClick);
    connect(mIOstate, &QAction::triggered, this, &TMainForm::mIOstateClick);
    connect(mComponents, &QAction::triggered, core, &ProgramCore::bHideClick);
    connect(mDeviceAutostart, &QAction::triggered, core, &ProgramCore::mDeviceAutostartClick);
    for (QAction* action : {tbSuper, mDeviceGo, mDeviceWait})
        connect(action, &QAction::triggered, core, &ProgramCore::tbSuperClick);
    connect(mNew, &QAction::triggered, core, &ProgramCore::New1Click);
    for (int n = 1; n <= ExtraButtonCount; ++n)
        connect(tbex[size_t(n - 1)], &QAction::triggered, this, [this, n] { tbexClick(n); });
    connect(DBGridEh1, &TWeighingsGrid::recordDeleted, core, &ProgramCore::Table1AfterDelete);
    connect(&core->store(), &WeighingStore::tableChanged, DBGridEh1, &TWeighingsGrid::tableChanged);
    // Queued: a box is shown from the event loop, after the handler that asked for it.
    connect(&core->notices(), &OperatorNotices::noticePosted, this, &TMainForm::showNotices,
            Qt::QueuedConnection);
}

void TMainForm::showNotices() {
    OperatorNotices& notices = m_core->notices();
    while (const std::optional<Notice> notice = notices.takeNext()) {
        QMessageBox box(notice->isWarning() ? QMessageBox::Warning : QMessageBox::Information,
                        notice->caption, notice->text, QMessageBox::Ok);
        box.exec();
        notices.closed();
    }
}

void TMainForm::ApplyButtons(const std::array<buttons_t, ExtraButtonCount>& buttons) {
    for (int n = 1; n <= ExtraButtonCount; ++n) {
        QAction* button = tbex[size_t(n - 1)];
        const buttons_t& record = buttons[size_t(n - 1)];
        button->setVisible(record.Show);
        button->setText(record.Name);
        button->setToolTip(record.Name);
        // An icon index without an icon shows an empty button rather than failing.
        button->setIcon(m_imageList1.value(record.Image));
        button->setData(record.Command);
    }
}

void TMainForm::ApplyShowComponents(bool show) {
    lvComponents->setVisible(show);
    mComponents->setChecked(show);
}

void TMainForm::applyWindowSettings(const AppSettings& s) {
    Showconsolewindow1->setChecked(s.ShowConsole);
    move(s.MainWindow.Left, s.MainWindow.Top);
    resize(s.MainWindow.Width, s.MainWindow.Height);
    lvComponents->applyListFont(s.ComponentsFont);
    lvComponents->setColumnWidths(s.ComponentColumns);
    lvComponents->setListWidth(s.ComponentsWidth);
    Splitter1->setSizes({s.ComponentsWidth, qMax(1, width() - s.ComponentsWidth)});
    DBGridEh1->setColumnWidths(s.GridColumnWidths);
}

void TMainForm::collectWindowSettings(AppSettings& s) const {
    s.ShowConsole = Showconsolewindow1->isChecked();
    s.MainWindow = {y(), x(), width(), height()};
    if (m_console)
        s.ConsoleForm = m_console->bounds();
    s.ComponentsFont = lvComponents->listFont();
    s.ComponentColumns = lvComponents->columnWidths();
    s.ComponentsWidth = lvComponents->listWidth();
    s.GridColumnWidths = DBGridEh1->columnWidths();
}

void TMainForm::showFilterDate(QDate today) {
    DateTimePicker1->setDate(today);
}

void TMainForm::setRecordCountText(const QString& text) {
    StatusBar->setPanelText(StatusPanel::RecordCount, text);
}

void TMainForm::showWeighings(WeighingsTable& table) {
    DBGridEh1->setTable(&table);
    SetFilterExecute();
    DBGridEh1->goToLastRow();
    // The filter follows the operator's choice from now on.
    connect(DateTimePicker1, &QDateEdit::dateChanged, this, &TMainForm::SetFilterExecute,
            Qt::UniqueConnection);
    connect(ComboBox1, &QComboBox::activated, this, &TMainForm::SetFilterExecute,
            Qt::UniqueConnection);
    connect(SetFilter, &QAction::triggered, this, &TMainForm::SetFilterExecute,
            Qt::UniqueConnection);
}

void TMainForm::setAutostartChecked(bool checked) {
    mDeviceAutostart->setChecked(checked);
}

void TMainForm::showSettingsWriteError(const QString& text) {
    QMessageBox::critical(this, AppInfo::Title, text);
}

void TMainForm::SetFilterExecute() {
    DBGridEh1->SetFilterExecute(DateTimePicker1->date(), ComboBox1->currentIndex() + 1);
}

void TMainForm::setConsoleForm(TConsoleForm* console) {
    m_console = console;
    connect(Showconsolewindow1, &QAction::triggered, console,
            &TConsoleForm::Showconsolewindow1Click);
}

void TMainForm::setAboutBox(TAboutBox* about) {
    m_about = about;
}

void TMainForm::closeEvent(QCloseEvent* event) {
    m_core->FormClose();
    event->accept();
    // exit() rather than quit(): it also ends a message box's loop that may be open now.
    QApplication::exit(0);
}

void TMainForm::mExitClick() {
    close();
}

void TMainForm::mHelpClick() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QStringLiteral("readme.chm")));
}

void TMainForm::mLinkClick() {
    QDesktopServices::openUrl(QUrl(AppInfo::MakerSite));
}

void TMainForm::mAboutClick() {
    if (!m_about)
        return;
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void TMainForm::setPortSettingsForm(TCOMportSettingsForm* form) {
    m_portSettings = form;
}

void TMainForm::setIOForm(TIOForm* form) {
    m_io = form;
    connect(form, &TIOForm::closedByOperator, this, [this] { mIOstate->setChecked(false); });
}

void TMainForm::tbexClick(int button) {
    if (!m_core->tbexClick(button))
        return;
    if (QWidget* widget = ToolBar1->widgetForAction(tbex[size_t(button - 1)]))
        widget->setCursor(Qt::WaitCursor);
}

void TMainForm::mSetupComClick() {
    m_core->beginPortSetup();
    if (m_portSettings)
        m_portSettings->exec();
    m_core->endPortSetup();
}

void TMainForm::mIOstateClick() {
    if (m_io)
        m_io->setVisible(mIOstate->isChecked());
}

// What the poll cycle shows.

void TMainForm::setWeightText(const QString& text) {
    LabelWeight->setText(text);
}

void TMainForm::setLastWeighingText(const QString& text) {
    LabelShippingWeight->setText(text);
}

void TMainForm::setComponentRow(int row, const QString& sum, const QString& count,
                                const QString& date) {
    lvComponents->setComponentRow(row, sum, count, date);
}

void TMainForm::setPortStatusText(const QString& text) {
    StatusBar->setPanelText(StatusPanel::Port, text);
}

void TMainForm::setLinkStatusText(const QString& text) {
    StatusBar->setPanelText(StatusPanel::Link, text);
}

void TMainForm::setLinkState(LinkState state) {
    StatusBar->setLinkState(state);
}

void TMainForm::setExchangeLamp(bool active) {
    XchangeFreqDisp->setStyleSheet(
        QStringLiteral("#XchangeFreqDisp { border: 1px solid palette(dark); border-radius: 3px; "
                       "background: %1; }")
            .arg(active ? QStringLiteral("#00FF00") : QStringLiteral("palette(button)")));
}

void TMainForm::setCollectionAvailable(bool available) {
    tbSuper->setEnabled(available);
}

void TMainForm::setCollectionRunning(bool running) {
    tbSuper->setChecked(running);
    mDeviceGo->setEnabled(!running);
    mDeviceWait->setEnabled(running);
}

void TMainForm::showInputs(quint8 InputBits) {
    if (m_io)
        m_io->ShowInputs(InputBits);
}

void TMainForm::showOutputs(quint8 OutputBits) {
    if (m_io)
        m_io->ShowOutputs(OutputBits);
}

bool TMainForm::isIoStateTicked() const {
    return mIOstate->isChecked();
}

void TMainForm::appendConsoleLine(const QString& line) {
    if (m_console)
        m_console->appendLine(line);
}

void TMainForm::resetButtonCursors() {
    for (QAction* button : tbex) {
        if (QWidget* widget = ToolBar1->widgetForAction(button))
            widget->unsetCursor();
    }
}
