#pragma once
// frmAdd: the add-task dialog. It is made afresh for every opening, so its
// controls start from their initial state each time.
#include <QDialog>
#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class frmDown;

class frmAdd : public QDialog {
    Q_OBJECT
public:
    explicit frmAdd(frmDown &main);

    // Each time the dialog becomes the active window; acts once per opening.
    void Form_Activate();
    // "加入" (index 0) or "取消" (index 1).
    void cmdAdd_Click(int Index);

    QGroupBox *Frame2 = nullptr;
    QLabel *Label5 = nullptr;
    QLineEdit *txtUrl = nullptr;
    std::array<QPushButton *, 2> cmdAdd{};
    QGroupBox *Frame1 = nullptr;
    QCheckBox *chkProxy = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *txtProxy = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *txtPort = nullptr;
    QCheckBox *chkAuth = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *txtID = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *txtPass = nullptr;

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildControls();
    void chkProxy_Click();
    void chkAuth_Click();
    void Form_Load();

    frmDown &main_;
    bool activated_ = false;
};
