#include "ui/main_window.h"

#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "core/startup.h"
#include "registry/scan_context.h"
#include "ui/check_tree_view.h"
#include "ui/cleaner_pane.h"
#include "ui/defrag_pane.h"
#include "ui/full_registry_backup.h"
#include "ui/index_dat_viewer.h"
#include "ui/registry_pane.h"
#include "ui/tools_pane.h"
#include "ui/web_pages.h"

// The window's controls and their look; what they do is in main_window.cpp.
namespace brisko {

namespace {

constexpr int kTitleHeight = 50;
constexpr int kNavButtonHeight = 56;
constexpr int kNavPitch = 61;  // from one navigation button's top to the next

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

}  // namespace

void TfrmMain::createControls() {
    setStyleSheet(QString::fromLatin1(kStyleSheet));
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

    Timer2_ = timers_->createTimer("Timer2", [this] { Timer2Timer(); });
    setWindowIcon(QIcon(titleBadge()));

    pmTray_ = new QMenu(this);
    pmTray_->setObjectName(QStringLiteral("pmTray"));
    pmTray_->addAction(QStringLiteral("&Open"), this, &TfrmMain::ShowFromTray);
    pmTray_->addAction(QStringLiteral("Online &Help"), this,
                       [this] { openWebPage(kOnlineHelpPage); });
    pmTray_->addSeparator();
    pmTray_->addAction(QStringLiteral("&Exit"), this, [this] {
        close();
        removeTrayIcon();
    });
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
    // Every icon drawn at the same size, whatever sizes the style offers.
    QIcon icon = style()->standardIcon(static_cast<QStyle::StandardPixmap>(iconKind));
    QPixmap pm = icon.pixmap(QSize(48, 48))
                     .scaled(QSize(24, 24) * devicePixelRatio(), Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
    pm.setDevicePixelRatio(devicePixelRatio());
    b->setIcon(QIcon(pm));
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
            bOptions_ = b;
            connect(b, &QToolButton::clicked, this, [this] { bOptionsClick(); });
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
    pmMore_->addAction(QStringLiteral("Online &Help"), this,
                       [this] { openWebPage(kOnlineHelpPage); });
    pmMore_->addAction(QStringLiteral("H&omepage"), this, [this] { openWebPage(kHomePage); });
    pmMore_->addAction(QStringLiteral("&Check for Update"), this,
                       [this] { openWebPage(kUpdatePage); });
    pmMore_->addSeparator();
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
    cleanerPane_ = new CleanerPane(
        {machine_, model_.Settings, model_.cleanTree, prompter_, &messageTarget_, &model_.flags},
        gbCleaner_);
    cl->addWidget(cleanerPane_->lMain(), 0, 1);
    cl->addWidget(cleanerPane_->controlRow(), 1, 0, 1, 2);
    // The log's lines are longer than the item captions: it gets the larger share.
    cl->setColumnStretch(0, 2);
    cl->setColumnStretch(1, 3);

    gbRegistry_ = makePane("gbRegistry", "Registry", kTagRegistry);
    tvRegistry_ = new CheckTreeView(gbRegistry_);
    tvRegistry_->setObjectName(QStringLiteral("tvRegistry"));
    // The icons first: the tree's items are built once, with them.
    tvRegistry_->setIconProvider([this](const CheckNode& n) {
        QStyle::StandardPixmap kind = n.isTopLevel()        ? QStyle::SP_ComputerIcon
                                      : !n.children.empty() ? QStyle::SP_DirIcon
                                      : n.parent && !n.parent->isTopLevel() ? QStyle::SP_DriveHDIcon
                                                                            : QStyle::SP_FileIcon;
        return tvRegistry_->standardIcon(kind);
    });
    tvRegistry_->setTree(&model_.sectionTree);
    tvRegistry_->setAlwaysExpanded(true);
    // The pane lays out the sections, the problem list and its buttons.
    registryPane_ = new RegistryPane(machine_, model_, messageTarget_, prompter_,
                                     defaultScannerTable(), tvRegistry_, gbRegistry_);
    auto* rl = new QVBoxLayout(gbRegistry_);
    rl->setContentsMargins(8, 8, 8, 10);
    rl->addWidget(registryPane_);

    gbTools_ = makePane("gbTools", "Tools", kTagTools);
    toolsPane_ = new ToolsPane(machine_, model_.Settings, prompter_,
                               WindowsVersionCode(machine_.version()), gbTools_);
    toolsPane_->commitRegistry = [this] { return commitRegistry(); };
    toolsPane_->addToolButton(QStringLiteral("bBackupFullRegistry"),
                              QStringLiteral("Backup Full Registry..."),
                              QStringLiteral("Export the whole registry to a .reg file"),
                              [this] { bBackupFullRegistryClick(machine_, prompter_, this); });
    toolsPane_->addToolButton(QStringLiteral("bViewHistory"), QStringLiteral("Index.dat Viewer..."),
                              QStringLiteral("Read the contents of your index.dat files"), [this] {
                                  TfrmIndexDatViewer::showModal(machine_, model_.Settings, this);
                              });
    auto* tl = new QVBoxLayout(gbTools_);
    tl->setContentsMargins(8, 8, 8, 8);
    tl->addWidget(toolsPane_);

    gbDefrag_ = makePane("gbDefrag", "Registry Defrag", kTagDefrag);
    defragPane_ = new DefragPane(machine_, model_, prompter_, gbDefrag_);
    defragPane_->setRestartHandler([this] { close(); });  // a restart ends the program
    auto* dl = new QVBoxLayout(gbDefrag_);
    dl->setContentsMargins(8, 8, 8, 10);
    dl->addWidget(defragPane_);
    return area;
}

}  // namespace brisko
