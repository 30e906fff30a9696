#pragma once
// The about box: the program's name and version and two links to its authors.

#include <QDialog>

namespace tbx {

class CLinkLabel;
class IDialogs;
class IShell;

// The links' targets.
inline constexpr const char* kAuthorMail = "tomebox@example.org";

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(IShell& shell, IDialogs& dialogs, QWidget* parent = nullptr);

    CLinkLabel* WebLink() const { return m_webLink; }
    CLinkLabel* MailLink() const { return m_mailLink; }

private:
    void OnInitDialog(IShell& shell, IDialogs& dialogs);

    CLinkLabel* m_webLink = nullptr;
    CLinkLabel* m_mailLink = nullptr;
};

} // namespace tbx
