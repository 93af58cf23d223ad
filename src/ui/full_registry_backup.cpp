#include "ui/full_registry_backup.h"

#include <QFileDialog>
#include <filesystem>

#include "core/messages.h"
#include "registry/problem_report.h"
#include "ui/backup_hint_dialog.h"

namespace brisko {

bool bBackupFullRegistryClick(Machine& machine, Prompter& prompter, QWidget* parent) {
    QString chosen = QFileDialog::getSaveFileName(parent, QString::fromLatin1(kFullBackupTitle),
                                                  QString(), QString::fromLatin1(kFullBackupFilter),
                                                  nullptr, QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty()) return false;
    return backupFullRegistryTo(machine, prompter, chosen.toUtf8().toStdString(), parent);
}

bool backupFullRegistryTo(Machine& machine, Prompter& prompter, const std::string& chosen,
                          QWidget* parent) {
    std::string file = fullBackupName(chosen);
    std::error_code ec;
    if (std::filesystem::exists(file, ec) &&
        prompter.ask(file + std::string(kOverwriteSuffix), MB_YESNO | MB_DEFBUTTON2) != IDYES)
        return false;
    return RunRegedit(machine, prompter, "Regedit /e \"" + file + "\"", kFullBackupHint, parent);
}

}  // namespace brisko
