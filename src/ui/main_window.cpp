#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <array>
#include <iostream>

#include "cleaner/clean_catalog.h"
#include "core/machine/machine.h"
#include "registry/section_tree.h"
#include "ui/check_tree_view.h"
#include "ui/web_pages.h"

namespace brisko {

namespace {

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// The Boss Key's identifier; on Windows the value of the "MyKTLVHotkey_Hide" atom.
constexpr int kHotkeyId = 0xC001;
constexpr int kTitleHeight = 50;
constexpr int kNavButtonHeight = 56;
constexpr int kNavPitch = 61;  // from one navigation button's top to the next

// Browser windows the Boss Key hides and shows again.
constexpr std::array<std::string_view, 5> kBrowserWindowClasses = {
    "IEFrame", "NS_AE_WindowClass", "MozillaWindowClass", "MozillaUIWindowClass", "OpWindow"};

const char* const kStyleSheet = R"(
#pTitle { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #1F3B57, stop:0.6 #3E6485,
                                      stop:1 #7A98AF); }
#lTitle { color: white; font-size: 17px; font-weight: bold; }
#lTitleHint { color: #DCE6EE; font-size: 11px; }
#lUpdate { color: white; }
QToolButton[nav="true"] {
    border: 1px solid #A9B6C2; border-radius: 4px; color: #1F3B57; padding-top: 3px;
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 palette(button), stop:1 #EBEAE1);
}
QToolButton[nav="true"]:hover { border-color: #7A98AF; }
QToolButton[nav="true"]:checked {
    color: #10263A; font-weight: bold; border-color: #5F7F99;
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 white, stop:1 #7A98AF);
}
QToolButton[nav="true"]:disabled { color: #8C96A0; }
QGroupBox[pane="true"] { font-weight: bold; color: #1F3B57; }
#pPlaceholder { background: palette(base); border: 1px solid #B8C2CC; }
)";

// A small badge for the title bar, drawn so the program needs no image files.
QPixmap titleBadge() {
    QPixmap pm(34, 34);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 255, 255, 200), 2));
    p.setBrush(QColor(122, 152, 175));
    p.drawRoundedRect(QRectF(1, 1, 32, 32), 7, 7);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(20);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, 34, 34), Qt::AlignCenter, QStringLiteral("B"));
    return pm;
}

QWidget* placeholderPanel(QWidget* parent, const char* name) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QStringLiteral("pPlaceholder"));
    panel->setProperty("slot", QString::fromLatin1(name));
    return panel;
}

QLabel* notYetLabel(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setEnabled(false);
    return label;
}

}  // namespace

TfrmMain::TfrmMain(Machine& machine, StartArgs start, QWidget* parent)
    : QWidget(parent),
      machine_(machine),
      lifecycle_(*this, machine, model_),
      messageTarget_(this),
      prompter_(this) {
    model_.start = std::move(start);
    model_.cleanTree = buildCleanTree();
    model_.sectionTree = buildSectionTree();
    StartSwitch sw = model_.start.startSwitch();
    // These runs end on their own; nobody is there to answer a question.
    prompter_.setUnattended(sw == StartSwitch::Clear || sw == StartSwitch::Regdefrag ||
                            sw == StartSwitch::Regscan);
    setObjectName(QStringLiteral("TfrmMain"));
    setStyleSheet(QString::fromLatin1(kStyleSheet));
    createControls();
    lifecycle_.onCreate();
}

TfrmMain::~TfrmMain() {
    messageTarget_.detach();
}

// ---------------------------------------------------------------- controls

void TfrmMain::createControls() {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(createTitleBar());

    auto* body = new QHBoxLayout;
    body->setContentsMargins(6, 5, 6, 6);
    body->setSpacing(6);
    body->addWidget(createNavigation());
    body->addWidget(createPanes(), 1);
    root->addLayout(body, 1);

    Timer2_ = new QTimer(this);
    Timer2_->setObjectName(QStringLiteral("Timer2"));
    connect(Timer2_, &QTimer::timeout, this, &TfrmMain::Timer2Timer);
}

QWidget* TfrmMain::createTitleBar() {
    pTitle_ = new QFrame(this);
    pTitle_->setObjectName(QStringLiteral("pTitle"));
    pTitle_->setFixedHeight(kTitleHeight);
    pTitle_->setCursor(Qt::PointingHandCursor);
    pTitle_->installEventFilter(this);

    auto* badge = new QLabel(pTitle_);
    badge->setPixmap(titleBadge());
    lTitle_ = new QLabel(pTitle_);
    lTitle_->setObjectName(QStringLiteral("lTitle"));
    lTitleHint_ = new QLabel(pTitle_);
    lTitleHint_->setObjectName(QStringLiteral("lTitleHint"));
    auto* titles = new QVBoxLayout;
    titles->setSpacing(0);
    titles->addStretch();
    titles->addWidget(lTitle_);
    titles->addWidget(lTitleHint_);
    titles->addStretch();

    iUpdate_ = new QLabel(pTitle_);
    iUpdate_->setObjectName(QStringLiteral("iUpdate"));
    iUpdate_->setPixmap(style()->standardIcon(QStyle::SP_BrowserReload).pixmap(16, 16));
    lUpdate_ = new QLabel(pTitle_);
    lUpdate_->setObjectName(QStringLiteral("lUpdate"));
    lUpdate_->setTextFormat(Qt::RichText);
    lUpdate_->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    connect(lUpdate_, &QLabel::linkActivated, this, [this] { openWebPage(kUpdatePage); });

    auto* bar = new QHBoxLayout(pTitle_);
    bar->setContentsMargins(8, 0, 8, 6);
    bar->setSpacing(8);
    bar->addWidget(badge);
    bar->addLayout(titles);
    bar->addStretch();
    bar->addWidget(iUpdate_, 0, Qt::AlignBottom);
    bar->addWidget(lUpdate_, 0, Qt::AlignBottom);
    return pTitle_;
}

QToolButton* TfrmMain::addNavButton(const char* name, const char* caption, int tag, int iconKind) {
    auto* b = new QToolButton(this);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(QString::fromLatin1(caption));
    b->setProperty("tag", tag);
    b->setProperty("nav", true);
    b->setIcon(style()->standardIcon(static_cast<QStyle::StandardPixmap>(iconKind)));
    b->setIconSize(QSize(24, 24));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setFixedSize(86, kNavButtonHeight);
    b->setCursor(Qt::PointingHandCursor);
    navButtons_.push_back(b);
    return b;
}

QWidget* TfrmMain::createNavigation() {
    auto* column = new QWidget(this);
    auto* nav = new QVBoxLayout(column);
    nav->setContentsMargins(0, 5, 0, 0);
    nav->setSpacing(kNavPitch - kNavButtonHeight);
    struct Def {
        const char* name;
        const char* caption;
        int tag;
        QStyle::StandardPixmap icon;
    };
    const Def defs[] = {
        {"bCleaner", "Cleaner", kTagCleaner, QStyle::SP_TrashIcon},
        {"bRegistry", "Registry", kTagRegistry, QStyle::SP_FileDialogDetailedView},
        {"bTools", "Tools", kTagTools, QStyle::SP_FileDialogContentsView},
        {"bOptions", "Options", kTagOptions, QStyle::SP_FileDialogInfoView},
        {"bRegistryDefrag", "Defrag", kTagDefrag, QStyle::SP_DriveHDIcon},
        {"bHelp", "More", kTagMore, QStyle::SP_DialogHelpButton},
    };
    for (const Def& d : defs) {
        QToolButton* b = addNavButton(d.name, d.caption, d.tag, d.icon);
        nav->addWidget(b);
        if (d.tag == kTagOptions) {
            // The Options dialog is not part of this version yet.
            bOptions_ = b;
            b->setEnabled(false);
        } else if (d.tag == kTagMore) {
            connect(b, &QToolButton::clicked, this, &TfrmMain::bHelpClick);
        } else {
            b->setCheckable(true);
            connect(b, &QToolButton::clicked, this, [this, tag = d.tag] { FlatButtonClick(tag); });
        }
    }
    nav->addStretch();

    pmMore_ = new QMenu(this);
    pmMore_->setObjectName(QStringLiteral("pmMore"));
    pmMore_->addAction(QStringLiteral("&About..."), this, &TfrmMain::aAboutExecute);
    return column;
}

QWidget* TfrmMain::createPanes() {
    auto* area = new QWidget(this);
    auto* grid = new QGridLayout(area);
    grid->setContentsMargins(0, 0, 0, 0);
    auto makePane = [&](const char* name, const char* title, int tag) {
        auto* gb = new QGroupBox(QString::fromLatin1(title), area);
        gb->setObjectName(QString::fromLatin1(name));
        gb->setProperty("tag", tag);
        gb->setProperty("pane", true);
        grid->addWidget(gb, 0, 0);  // one cell: only the shown pane takes room
        return gb;
    };

    gbCleaner_ = makePane("gbCleaner", "Cleaner", kTagCleaner);
    tvCleanItems_ = new CheckTreeView(gbCleaner_);
    tvCleanItems_->setObjectName(QStringLiteral("tvCleanItems"));
    tvCleanItems_->setTree(&model_.cleanTree);
    auto* cl = new QGridLayout(gbCleaner_);
    cl->setContentsMargins(8, 8, 8, 10);
    cl->setHorizontalSpacing(8);
    cl->addWidget(tvCleanItems_, 0, 0);
    // The log list goes to the right of the tree and the run buttons below both.
    cl->addWidget(placeholderPanel(gbCleaner_, "cleanLog"), 0, 1);
    auto* cleanButtons = new QWidget(gbCleaner_);
    cleanButtons->setObjectName(QStringLiteral("pCleanButtons"));
    cleanButtons->setFixedHeight(30);
    cl->addWidget(cleanButtons, 1, 0, 1, 2);
    cl->setColumnStretch(0, 1);
    cl->setColumnStretch(1, 1);

    gbRegistry_ = makePane("gbRegistry", "Registry", kTagRegistry);
    tvRegistry_ = new CheckTreeView(gbRegistry_);
    tvRegistry_->setObjectName(QStringLiteral("tvRegistry"));
    tvRegistry_->setTree(&model_.sectionTree);
    tvRegistry_->setAlwaysExpanded(true);
    tvRegistry_->setIconProvider([this](const CheckNode& n) {
        QStyle::StandardPixmap kind = n.isTopLevel()        ? QStyle::SP_ComputerIcon
                                      : !n.children.empty() ? QStyle::SP_DirIcon
                                      : n.parent && !n.parent->isTopLevel() ? QStyle::SP_DriveHDIcon
                                                                            : QStyle::SP_FileIcon;
        return style()->standardIcon(kind);
    });
    auto* rl = new QGridLayout(gbRegistry_);
    rl->setContentsMargins(8, 8, 8, 10);
    rl->setHorizontalSpacing(8);
    rl->addWidget(tvRegistry_, 0, 0);
    // The problem list goes to the right of the sections, its buttons below.
    rl->addWidget(placeholderPanel(gbRegistry_, "problemList"), 0, 1);
    auto* regButtons = new QWidget(gbRegistry_);
    regButtons->setObjectName(QStringLiteral("pRegistryButtons"));
    regButtons->setFixedHeight(30);
    rl->addWidget(regButtons, 1, 0, 1, 2);
    rl->setColumnStretch(0, 1);
    rl->setColumnStretch(1, 1);

    gbTools_ = makePane("gbTools", "Tools", kTagTools);
    auto* tl = new QVBoxLayout(gbTools_);
    tl->addWidget(notYetLabel(gbTools_, QStringLiteral("The tools are not available yet.")));

    gbDefrag_ = makePane("gbDefrag", "Registry Defrag", kTagDefrag);
    auto* dl = new QVBoxLayout(gbDefrag_);
    dl->addWidget(
        notYetLabel(gbDefrag_, QStringLiteral("Registry defragmentation is not available yet.")));
    return area;
}

// ---------------------------------------------------------------- navigation

void TfrmMain::FlatButtonClick(int tag) {
    for (QToolButton* b : navButtons_) {
        if (b->isCheckable()) b->setChecked(b->property("tag").toInt() == tag);
    }
    for (QGroupBox* gb : {gbCleaner_, gbRegistry_, gbTools_, gbDefrag_})
        gb->setVisible(gb->property("tag").toInt() == tag);
    currentTag_ = tag;
}

void TfrmMain::bHelpClick() {
    pmMore_->popup(QCursor::pos());
}

void TfrmMain::aAboutExecute() {
    QMessageBox::about(this, QStringLiteral("About Brisko Cleaner"),
                       QStringLiteral("<b>%1</b><p>A privacy cleaner, registry cleaner and "
                                      "registry defragmenter for Windows.</p><p>%2</p>")
                           .arg(qs(kMainCaption), qs(kProductWebPage)));
}

void TfrmMain::openWebPage(std::string_view url) {
    machine_.shellExecute("Open", url, "");
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == pTitle_ && event->type() == QEvent::MouseButtonPress) {
        // The update link handles its own clicks; the rest of the bar is the home page.
        QPoint pos = static_cast<QMouseEvent*>(event)->position().toPoint();
        QWidget* child = pTitle_->childAt(pos);
        if (child == lUpdate_ || child == iUpdate_) return false;
        openWebPage(kHomePage);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- creation

void TfrmMain::setupWindow() {
    resize(kDesignClientWidth, kDesignClientHeight);
    setWindowTitle(qs(kMainCaption));
    lTitle_->setText(qs(kProgramTitle));
    lTitleHint_->setText(qs(kTitleHint));
    lUpdate_->setText(
        QStringLiteral("<a href=\"%1\" style=\"color:white;\">Check for updates...</a>")
            .arg(qs(kUpdatePage).toHtmlEscaped()));
    gbRegistry_->hide();
    gbTools_->hide();
}

void TfrmMain::addApplicationItems() {
    // The installed applications of the data file join the "Applications"
    // group here once the list reader is part of the program.
    tvCleanItems_->rebuild();
}

void TfrmMain::scrollCleanTreeToTop() {
    tvCleanItems_->scrollToTop();
}

void TfrmMain::showCleanTreeChecks() {
    tvCleanItems_->refreshChecks();
}

void TfrmMain::addTrayIcon() {
    // No notification-area icon in this version.
}

void TfrmMain::rememberExtendedStyle() {
    // Window styles are the toolkit's business here.
}

void TfrmMain::expandTopNodes() {
    tvCleanItems_->refreshExpansion();
    tvRegistry_->refreshExpansion();
}

void TfrmMain::setFastMode(bool) {
    // The "Fast Mode" box comes with the clean log.
}

void TfrmMain::unregisterHotkey() {
    if (HotkeyService* hk = machine_.hotkeys()) hk->unregisterHotkey(kHotkeyId);
    hotkeyId_ = 0;
}

void TfrmMain::registerHotkey() {
    HotkeyService* hk = machine_.hotkeys();
    if (!hk) return;  // no hot-key service on this machine: the feature is absent
    const TShortcut& key = model_.Settings.Hotkey;
    unsigned modifiers = (key.IsCtrl ? 2u : 0u) | (key.IsShift ? 4u : 0u) | (key.IsAlt ? 1u : 0u);
    if (hk->registerHotkey(kHotkeyId, modifiers, key.CharAscII)) {
        hotkeyId_ = kHotkeyId;
    } else {
        hotkeyId_ = 0;
        prompter_.ask("The hotkey for Boss Key failed, please try to use other key!",
                      MB_OK | MB_ICONERROR);
    }
}

void TfrmMain::hideWindowsBackup() {}
void TfrmMain::createHiveLists() {}
void TfrmMain::showUnsupportedDefrag() {}

void TfrmMain::showCleanerPane() {
    FlatButtonClick(kTagCleaner);
}

// ---------------------------------------------------------------- first show, activation

void TfrmMain::layoutPanes() {
    if (layout()) layout()->activate();
}

void TfrmMain::showSectionTreeChecks() {
    tvRegistry_->refreshChecks();
}

QSize TfrmMain::frameExtra() const {
    // Known once the window manager has framed the window; nothing before.
    QSize extra = frameGeometry().size() - geometry().size();
    return extra.isValid() ? extra : QSize(0, 0);
}

void TfrmMain::setMinimumSize(int width, int height) {
    minimumWindowSize_ = QSize(width, height);
    applyMinimumSize();
}

void TfrmMain::applyMinimumSize() {
    if (minimumWindowSize_.isEmpty()) return;
    // The limit is for the whole window, frame included.
    QWidget::setMinimumSize(minimumWindowSize_ - frameExtra());
}

void TfrmMain::buildHiveList() {}

void TfrmMain::maximize() {
    // Does not show a hidden window; a later show comes up maximised.
    setWindowState(windowState() | Qt::WindowMaximized);
}

void TfrmMain::setBounds(int left, int top, int width, int height) {
    applyMinimumSize();
    QSize extra = frameExtra();
    if (width > 0 && height > 0) resize(width - extra.width(), height - extra.height());
    move(left, top);
    ensureOnScreen();
}

void TfrmMain::ensureOnScreen() {
    // Bounds saved on a screen that is no longer there would put the window
    // out of reach; bring such a window back to the middle of the screen.
    QRect frame = frameGeometry();
    const QRect visible = frame.adjusted(40, 20, -40, -20);
    for (QScreen* s : QGuiApplication::screens()) {
        if (s->availableGeometry().intersects(visible)) return;
    }
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TfrmMain::armScheduleTimer(bool enabled, int intervalMs) {
    Timer2_->setInterval(intervalMs);
    if (enabled)
        Timer2_->start();
    else
        Timer2_->stop();
}

void TfrmMain::Timer2Timer() {
    // A tick while a run is going on changes nothing; the clean run starts here
    // once the clean engine is part of the window.
    if (model_.flags.Busy) return;
}

void TfrmMain::postMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    messageTarget_.post(msg, wParam, lParam);
}

// ---------------------------------------------------------------- close

bool TfrmMain::cleanInProgress() {
    return false;
}
bool TfrmMain::scanInProgress() {
    return false;
}
void TfrmMain::cancelClean() {}
void TfrmMain::cancelScan() {}
void TfrmMain::releaseJobList() {}

WindowPlacement TfrmMain::windowPlacement() {
    WindowPlacement p;
    p.showCmd = isMaximized() ? 3 : isMinimized() ? 2 : 1;
    // A maximised or minimised window is saved with the bounds it returns to.
    QRect client = (isMaximized() || isMinimized()) ? normalGeometry() : geometry();
    QSize extra = frameExtra();
    QPoint origin = (isMaximized() || isMinimized()) ? client.topLeft() : frameGeometry().topLeft();
    p.left = origin.x();
    p.top = origin.y();
    p.width = client.width() + extra.width();
    p.height = client.height() + extra.height();
    return p;
}

void TfrmMain::showHiddenBrowsers() {
    for (const WindowRef& w : machine_.topLevelWindows()) {
        for (std::string_view cls : kBrowserWindowClasses) {
            if (w.className == cls) machine_.showWindow(w.handle, true);
        }
    }
}

void TfrmMain::toggleBrowsers(uintptr_t hotkeyId) {
    bool& hidden = model_.flags.BrowsersHidden;
    hidden = !hidden;
    if (hotkeyId_ == 0 || hotkeyId != uintptr_t(hotkeyId_)) return;
    for (const WindowRef& w : machine_.topLevelWindows()) {
        for (std::string_view cls : kBrowserWindowClasses) {
            if (w.className == cls) machine_.showWindow(w.handle, !hidden);
        }
    }
}

void TfrmMain::deleteHiveCopies() {}

bool TfrmMain::commitRegistry() {
    if (machine_.registry().commit()) return true;
    std::cerr << kProgramTitle << ": the registry changes could not be written to the hive files"
              << std::endl;
    prompter_.ask("The registry changes could not be saved to the hive files of this machine.",
                  MB_OK | MB_ICONERROR);
    if (exitCode_ == 0) exitCode_ = 1;
    return false;
}

void TfrmMain::terminate() {
    if (terminated_) return;
    terminated_ = true;
    commitRegistry();
    hide();
    emit terminated(exitCode_);
}

void TfrmMain::startUnattendedClean() {}

bool TfrmMain::waitForCleanRun(std::chrono::milliseconds) {
    return !cleanInProgress();
}

WindowMetrics TfrmMain::windowMetrics() {
    WindowMetrics m;
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (s) {
        m.screenWidth = s->geometry().width();
        m.screenHeight = s->geometry().height();
    }
    QSize extra = frameExtra();
    m.width = width() + extra.width();
    m.height = height() + extra.height();
    return m;
}

// ---------------------------------------------------------------- messages and events

void TfrmMain::ShowFromTray() {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TfrmMain::handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    switch (msg) {
        case WM_SHOW_MAIN:
            ShowFromTray();
            break;
        case WM_SYSCOMMAND:
            if (wParam == SC_MAXIMIZE) {
                maximize();
            } else if (wParam == SC_MINIMIZE) {
                hide();
                if (lParam != 1) addTrayIcon();
            }
            break;
        case WM_HOTKEY:
            toggleBrowsers(wParam);
            break;
        case WM_AUTO_CLEAN:
            runAutoClean();
            break;
        case WM_RUN_REGDEFRAG:
        case WM_RUN_REGSCAN:
            runUnattendedRegistryJob(msg);
            break;
        default:
            break;
    }
}

void TfrmMain::runAutoClean() {
    hide();
    if (!model_.flags.AutoClearRun) return;
    // "/Clear" ends by itself once its clean and scan are over. Neither is part
    // of this version, so say so rather than report a clean that never ran.
    std::cerr << kProgramTitle
              << ": the unattended clean and registry scan are not available in this version"
              << std::endl;
    exitCode_ = 1;
    close();
}

void TfrmMain::runUnattendedRegistryJob(uint32_t msg) {
    hide();
    std::cerr << kProgramTitle << ": "
              << (msg == WM_RUN_REGDEFRAG ? "registry defragmentation" : "registry analysis")
              << " is not available in this version" << std::endl;
    exitCode_ = 1;
    close();
}

bool TfrmMain::event(QEvent* event) {
    if (event->type() == MessageEvent::eventType()) {
        auto* m = static_cast<MessageEvent*>(event);
        handleMessage(m->msg, m->wParam, m->lParam);
        return true;
    }
    if (event->type() == QEvent::WindowActivate) {
        applyMinimumSize();
        lifecycle_.onActivate();
    }
    return QWidget::event(event);
}

void TfrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (firstShowDone_) return;
    firstShowDone_ = true;
    lifecycle_.onFirstShow();
    // Without a window manager (or on the offscreen platform) a window may
    // never be activated; its first-activation steps must run all the same.
    QTimer::singleShot(0, this, [this] {
        if (!lifecycle_.firstActivationDone()) lifecycle_.onActivate();
    });
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (!lifecycle_.closed()) lifecycle_.onClose();
    event->accept();
}

}  // namespace brisko
