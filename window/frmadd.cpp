#include "window/frmadd.h"

#include "tasks/portparse.h"
#include "widgets/twips.h"
#include "window/frmdown.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

frmAdd::frmAdd(frmDown &main) : QDialog(&main), main_(main)
{
    setObjectName(QStringLiteral("frmAdd"));
    setWindowTitle(QStringLiteral("加入新的下载任务"));
    setFont(QFont(QStringLiteral("宋体"), 9));
    resize(twipsRect(0, 0, 6465, 4695).size());
    buildControls();
    Form_Load();
}

void frmAdd::buildControls()
{
    Frame2 = place(new QGroupBox(this), "Frame2", twipsRect(60, 90, 6312, 1392));
    Frame2->setTitle(QStringLiteral("加入下载的URL"));
    Label5 = place(new QLabel(Frame2), "Label5", twipsRect(300, 420, 552, 192));
    Label5->setText(QStringLiteral("URL："));
    txtUrl = place(new QLineEdit(Frame2), "txtUrl", twipsRect(960, 360, 4932, 288));
    cmdAdd[0] = place(new QPushButton(Frame2), "cmdAdd0", twipsRect(3900, 900, 792, 312));
    cmdAdd[0]->setText(QStringLiteral("加入"));
    cmdAdd[1] = place(new QPushButton(Frame2), "cmdAdd1", twipsRect(4920, 900, 792, 312));
    cmdAdd[1]->setText(QStringLiteral("取消"));

    Frame1 = place(new QGroupBox(this), "Frame1", twipsRect(60, 1500, 6312, 3012));
    Frame1->setTitle(QStringLiteral("选项"));
    chkProxy = place(new QCheckBox(Frame1), "chkProxy", twipsRect(180, 420, 1632, 252));
    chkProxy->setText(QStringLiteral("使用代理服务器"));
    Label1 = place(new QLabel(Frame1), "Label1", twipsRect(120, 960, 1632, 192));
    Label1->setText(QStringLiteral("代理服务器地址："));
    txtProxy = place(new QLineEdit(Frame1), "txtProxy", twipsRect(1800, 900, 3912, 288));
    Label2 = place(new QLabel(Frame1), "Label2", twipsRect(120, 1380, 1632, 192));
    Label2->setText(QStringLiteral("代理服务器端口："));
    txtPort = place(new QLineEdit(Frame1), "txtPort", twipsRect(1800, 1320, 792, 288));
    txtPort->setText(QStringLiteral("6666"));
    chkAuth = place(new QCheckBox(Frame1), "chkAuth", twipsRect(180, 1800, 2172, 312));
    chkAuth->setText(QStringLiteral("代理服务器身份验证"));
    Label3 = place(new QLabel(Frame1), "Label3", twipsRect(120, 2220, 1632, 192));
    Label3->setText(QStringLiteral("帐号："));
    txtID = place(new QLineEdit(Frame1), "txtID", twipsRect(1800, 2160, 1332, 288));
    Label4 = place(new QLabel(Frame1), "Label4", twipsRect(120, 2640, 1632, 192));
    Label4->setText(QStringLiteral("密码："));
    txtPass = place(new QLineEdit(Frame1), "txtPass", twipsRect(1800, 2580, 1332, 288));

    for (QWidget *w : {static_cast<QWidget *>(txtProxy), static_cast<QWidget *>(txtPort),
                       static_cast<QWidget *>(chkAuth), static_cast<QWidget *>(txtID),
                       static_cast<QWidget *>(txtPass)})
        w->setEnabled(false);

    // Enter adds (unless another button has the focus); Escape is 取消.
    cmdAdd[0]->setDefault(true);

    // The tab order the form was laid out with.
    const QList<QWidget *> order{chkProxy, txtProxy,  txtPort, chkAuth,  txtPass,
                                 txtID,    cmdAdd[0], txtUrl,  cmdAdd[1]};
    for (int i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);

    connect(chkProxy, &QCheckBox::toggled, this, [this] { chkProxy_Click(); });
    connect(chkAuth, &QCheckBox::toggled, this, [this] { chkAuth_Click(); });
    connect(cmdAdd[0], &QPushButton::clicked, this, [this] { cmdAdd_Click(0); });
    connect(cmdAdd[1], &QPushButton::clicked, this, [this] { cmdAdd_Click(1); });
}

void frmAdd::chkProxy_Click()
{
    const bool on = chkProxy->isChecked();
    txtProxy->setEnabled(on);
    txtPort->setEnabled(on);
    chkAuth->setEnabled(on);
    if (!on) {
        txtID->setEnabled(false);
        txtPass->setEnabled(false);
    }
    chkAuth->setChecked(false);
}

void frmAdd::chkAuth_Click()
{
    const bool on = chkAuth->isChecked();
    txtID->setEnabled(on);
    txtPass->setEnabled(on);
}

void frmAdd::Form_Load()
{
    const int row = main_.SelRow;
    if (row <= 0 || row > main_.DownTask.upperBound())
        return;
    const TaskRecord &r = main_.DownTask(row);
    txtUrl->setText(r.Url);
    if (r.UseProxy != -1)
        return;
    chkProxy->setChecked(true);
    txtProxy->setText(r.ProxyHost);
    txtPort->setText(QString::number(r.ProxyPort));
    if (!r.ProxyUser.isEmpty()) {
        chkAuth->setChecked(true);
        txtID->setText(r.ProxyUser);
        txtPass->setText(r.ProxyPass);
    }
}

bool frmAdd::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate)
        Form_Activate();
    return QDialog::event(e);
}

void frmAdd::Form_Activate()
{
    // The dialog becomes active again after each of its own message boxes;
    // refilling the URL the duplicate check just emptied would defeat it.
    if (activated_)
        return;
    activated_ = true;
    const QString text = main_.seams().clipboardText ? main_.seams().clipboardText() : QString();
    if ((text.startsWith(QLatin1String("http://")) || text.startsWith(QLatin1String("https://")))
        && text.size() < 180)
        txtUrl->setText(text);
    // Whatever was filled in is selected, so typing a new URL replaces it.
    txtUrl->setFocus();
    txtUrl->selectAll();
}

void frmAdd::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        cmdAdd_Click(1);
        return;
    }
    QDialog::keyPressEvent(e);
}

void frmAdd::cmdAdd_Click(int Index)
{
    if (Index == 0) {
        const QString url = txtUrl->text();
        if (main_.refuseDuplicate(url, this)) {
            txtUrl->clear();
            return;
        }
        if (!url.isEmpty()) {
            if (main_.refuseUnusable(url, this))
                return;
            std::optional<qint16> port;
            if (chkProxy->isChecked()) {
                // No port, 0 or a negative one would quietly mean no proxy at all.
                port = parseProxyPort(txtPort->text());
                if (!port || *port <= 0) {
                    main_.seams().message(this, QStringLiteral("代理服务器端口无效！"));
                    return;
                }
            }
            if (main_.refuseFullList(this))
                return;
            TaskRecord &r = main_.appendTask(url);
            if (chkProxy->isChecked()) {
                r.UseProxy = -1;
                r.ProxyHost = txtProxy->text();
                r.ProxyPort = *port;
                if (chkAuth->isChecked()) {
                    r.ProxyUser = txtID->text();
                    r.ProxyPass = txtPass->text();
                }
            }
        }
    }
    main_.SelRow = 0;
    if (Index == 0)
        accept();
    else
        reject();
}

void frmDown::menuadd_Click()
{
    frmAdd dialog(*this);
    seams_.execModal(dialog);
}
