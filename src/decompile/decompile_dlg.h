#pragma once
// The decompile window: a help file and an output folder, and a log pane
// that shows the latest stage of the decompile jobs it starts.

#include "controls/dialogs.h"
#include "controls/job_dialog.h"
#include "decompile/decompile_job.h"
#include "platform/registry.h"
#include "settings/opt_store.h"

#include <string>

class QLineEdit;

namespace tbx {

class IShell;

class CDecompileDlg : public JobDialog {
    Q_OBJECT
public:
    // programFolder ends with "/" and holds hh.
    CDecompileDlg(RegHive hive, IDialogs& dialogs, IShell& shell, std::string programFolder,
                  QWidget* parent = nullptr);

    // Handlers, public so that tests can drive them as a click would.
    void OnInitDialog();
    void OnBrowse();
    void OnDecompile();
    void OnBack();
    // What "Обзор ..." does once a help file is chosen: the folder question,
    // then both fields. Also used for a file named at start.
    void ChooseFile(const QString& file);

public slots:
    // Escape: the window ends as "<< Назад" ends it, once its jobs are over.
    void reject() override;

private:
    RegHive hive_;
    QLineEdit* m_editInput = nullptr;
    QLineEdit* m_editOutput = nullptr;
    COptReg m_optReg;
    COpenFileHelper m_fileDlg;
    DecompileJobs* m_jobs = nullptr; // owned by the job window
};

} // namespace tbx
