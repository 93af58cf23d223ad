#include "ui/about_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/machine/machine.h"
#include "core/startup.h"
#include "ui/qt_text.h"
#include "ui/web_pages.h"

namespace brisko {

TfrmAbout::TfrmAbout(Machine& machine, std::function<void(std::string_view)> openPage,
                     QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("TfrmAbout"));
    setWindowTitle(QStringLiteral("About Brisko Cleaner"));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    auto* icon = new QLabel(this);
    if (parent) icon->setPixmap(parent->windowIcon().pixmap(48, 48));
    row->addWidget(icon, 0, Qt::AlignTop);

    OsVersion v = machine.version();
    UserAccount user = machine.currentUser();
    std::string windows = v.productName.empty()
                              ? "Windows " + std::to_string(v.major) + "." + std::to_string(v.minor)
                              : v.productName;
    auto* text = new QLabel(this);
    text->setObjectName(QStringLiteral("lAbout"));
    text->setTextFormat(Qt::RichText);
    text->setWordWrap(true);
    text->setText(
        QStringLiteral("<p><b style=\"font-size:15px\">%1</b><br>%2</p>"
                       "<p>A privacy cleaner, registry cleaner and registry defragmenter for "
                       "Windows workstations.</p>"
                       "<p>Machine: %3 (build %4)%5, user %6.</p>")
            .arg(qs(kMainCaption), qs(kTitleHint), qs(windows).toHtmlEscaped())
            .arg(v.build)
            .arg(machine.isWow64() ? QStringLiteral(", 64-bit") : QString())
            .arg(qs(user.name).toHtmlEscaped()));
    row->addWidget(text, 1);
    layout->addLayout(row);

    auto* buttons = new QDialogButtonBox(this);
    auto* home = buttons->addButton(QStringLiteral("H&omepage"), QDialogButtonBox::ActionRole);
    auto* help = buttons->addButton(QStringLiteral("Online &Help"), QDialogButtonBox::ActionRole);
    auto* ok = buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    connect(home, &QPushButton::clicked, this, [openPage] { openPage(kHomePage); });
    connect(help, &QPushButton::clicked, this, [openPage] { openPage(kOnlineHelpPage); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    setMinimumWidth(420);
}

}  // namespace brisko
