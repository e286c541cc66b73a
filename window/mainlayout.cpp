// The main window's controls. At the window's first size every place and
// size is the designer's twips value over 15; a larger window gives its
// extra width to the list and the tab control and shares its extra height
// between them, the legend keeping its size at the right edge.
#include "window/mainlayout.h"

#include "widgets/blockmappanel.h"
#include "widgets/legendmark.h"
#include "widgets/tasklistview.h"
#include "widgets/twips.h"
#include "window/portal.h"

#include <QActionGroup>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QTabBar>
#include <QTextBrowser>
#include <QTimer>
#include <functional>

namespace {

constexpr int TabHeight = 20;

QPlainTextEdit *logBox(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *box = place(new QPlainTextEdit(parent), name, geometry);
    box->setReadOnly(true);
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    return box;
}

const QString HelpText = QStringLiteral("     功能\r\n"
                                        "1.同时下载两个文件\r\n"
                                        "2.支持断点续传\r\n"
                                        "3.支持代理服务器\r\n"
                                        "      \r\n"
                                        "\r\n"
                                        "      使用\r\n"
                                        "1.双击开始或停止\r\n"
                                        "2.其他按鼠标右键\r\n"
                                        "3.支持代理服务器\r\n");

void buildTabControl(frmDownUi &w, QWidget *central)
{
    w.SSTab1 = place(new QWidget(central), "SSTab1", twipsRect(60, 4920, 4995, 3795));
    const QRect whole(QPoint(0, 0), w.SSTab1->size());
    constexpr int tabHeight = TabHeight;

    auto *pane = place(new QFrame(w.SSTab1), "SSTab1Pane",
                       QRect(0, tabHeight - 1, whole.width(), whole.height() - tabHeight + 1));
    pane->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);

    // Each page covers the whole tab control, so a page's controls sit at
    // their places relative to the tab control; the page clips what reaches
    // beyond its right edge.
    for (int i = 0; i < 3; ++i) {
        w.SSTab1Pages[i] = place(new QWidget(w.SSTab1), "SSTab1Pages", whole);
        w.SSTab1Pages[i]->setObjectName(QStringLiteral("SSTab1Page%1").arg(i));
    }
    w.txtInfo = logBox(w.SSTab1Pages[0], "txtInfo", twipsRect(60, 300, 6192, 3432));
    // The log keeps its last 10,000 lines (and the empty one after the last
    // line end) only: a long run must not grow it forever.
    w.txtInfo->setMaximumBlockCount(10001);
    for (int i = 0; i < 3; ++i) {
        w.Pic[i]
            = place(new BlockMapPanel(w.SSTab1Pages[1]), "Pic", twipsRect(60, 360, 6192, 3372));
        w.Pic[i]->setObjectName(QStringLiteral("Pic%1").arg(i));
    }
    w.txtFile = logBox(w.SSTab1Pages[2], "txtFile", twipsRect(60, 300, 6192, 3432));

    w.SSTab1Tabs
        = place(new QTabBar(w.SSTab1), "SSTab1Tabs", QRect(0, 0, whole.width(), tabHeight));
    w.SSTab1Tabs->setExpanding(false);
    w.SSTab1Tabs->setDrawBase(false);
    w.SSTab1Tabs->addTab(QStringLiteral("信息提示"));
    w.SSTab1Tabs->addTab(QStringLiteral("下载情况"));
    w.SSTab1Tabs->addTab(QStringLiteral("文件信息"));
    w.SSTab1Tabs->raise();

    auto showPage = [&w](int current) {
        for (int i = 0; i < 3; ++i)
            w.SSTab1Pages[i]->setVisible(i == current);
    };
    QObject::connect(w.SSTab1Tabs, &QTabBar::currentChanged, w.SSTab1, showPage);
    w.SSTab1Tabs->setCurrentIndex(0);
    showPage(0);
}

void buildLegend(frmDownUi &w, QWidget *central)
{
    w.Frame2 = place(new QFrame(central), "Frame2", twipsRect(5160, 4920, 2055, 3795));
    w.Frame2->setFrameStyle(QFrame::Box | QFrame::Sunken);
    w.Shape1 = place(new LegendMark(w.Frame2), "Shape1", QRect(12, 12, 9, 9));
    w.Label1 = place(new QLabel(QStringLiteral("=2K Bytes"), w.Frame2), "Label1",
                     QRect(26, 8, 100, 17));
    w.Text1 = place(new QPlainTextEdit(w.Frame2), "Text1",
                    QRect(6, 32, w.Frame2->width() - 12, w.Frame2->height() - 38));
    w.Text1->setReadOnly(true);
    w.Text1->setPlainText(HelpText);
}

QAction *namedAction(QMenu *menu, const QString &text, const char *name)
{
    QAction *action = menu->addAction(text);
    action->setObjectName(QLatin1String(name));
    return action;
}

void buildMenus(frmDownUi &w, QMainWindow &window)
{
    QMenuBar *bar = window.menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));
    w.menufile = bar->addMenu(QStringLiteral("文件(&F)"));
    w.menufile->setObjectName(QStringLiteral("menufile"));
    w.menuadd = namedAction(w.menufile, QStringLiteral("加入新任务"), "menuadd");
    w.menuadd->setShortcut(QKeySequence::New);
    w.menuStartAll = namedAction(w.menufile, QStringLiteral("全部开始"), "menuStartAll");
    w.menuStopAll = namedAction(w.menufile, QStringLiteral("全部停止"), "menuStopAll");
    w.menuquit = namedAction(w.menufile, QStringLiteral("退出"), "menuquit");

    w.menusetup = bar->addMenu(QStringLiteral("设置(&S)"));
    w.menusetup->setObjectName(QStringLiteral("menusetup"));
    w.menuDel = namedAction(w.menusetup, QStringLiteral("删除"), "menuDel");
    w.menusetup->addSeparator();
    w.menuQueue = namedAction(w.menusetup, QStringLiteral("忙时排队"), "menuQueue");
    w.menuQueue->setCheckable(true);
    w.menuResume = namedAction(w.menusetup, QStringLiteral("启动时继续下载"), "menuResume");
    w.menuResume->setCheckable(true);
    w.menuLimit = namedAction(w.menusetup, QStringLiteral("限速…"), "menuLimit");
    w.menuConnections = w.menusetup->addMenu(QStringLiteral("每个任务的连接数"));
    w.menuConnections->setObjectName(QStringLiteral("menuConnections"));
    w.connectionChoices = new QActionGroup(w.menuConnections);
    for (int n = 0; n <= 16; ++n) {
        QAction *choice
            = w.menuConnections->addAction(n == 0 ? QStringLiteral("自动") : QString::number(n));
        choice->setCheckable(true);
        choice->setData(n);
        w.connectionChoices->addAction(choice);
    }
    w.menuFolder = namedAction(w.menusetup, QStringLiteral("下载文件夹…"), "menuFolder");
    w.menuAsk = namedAction(w.menusetup, QStringLiteral("保存时询问"), "menuAsk");
    w.menuAsk->setCheckable(true);

    w.menuHelp = bar->addMenu(QStringLiteral("帮助(&H)"));
    w.menuHelp->setObjectName(QStringLiteral("menuHelp"));
    w.mnuzv = namedAction(w.menuHelp, PortalName, "mnuzv");

    // The same entries as the menu bar's, for the task under the mouse.
    w.mnuTask = new QMenu(&window);
    w.mnuTask->setObjectName(QStringLiteral("mnuTask"));
    w.mnuTask->addAction(w.menuDel);
    w.mnuTask->addAction(w.menuStartAll);
    w.mnuTask->addAction(w.menuStopAll);
    w.menuTaskLimit = namedAction(w.mnuTask, QStringLiteral("限速…"), "menuTaskLimit");
    w.menuOpenFile = namedAction(w.mnuTask, QStringLiteral("打开文件"), "menuOpenFile");
    w.menuOpenFolder = namedAction(w.mnuTask, QStringLiteral("打开所在文件夹"), "menuOpenFolder");
    w.menuCopyUrl = namedAction(w.mnuTask, QStringLiteral("复制URL"), "menuCopyUrl");
    w.menuChangeUrl = namedAction(w.mnuTask, QStringLiteral("修改URL…"), "menuChangeUrl");
    w.menuDelFile = namedAction(w.mnuTask, QStringLiteral("删除任务和文件"), "menuDelFile");
}

// Calls back with the new size of the widget it watches.
class ResizeWatcher : public QObject {
public:
    ResizeWatcher(QObject *parent, std::function<void(QSize)> resized)
        : QObject(parent), resized_(std::move(resized))
    {}
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            resized_(static_cast<QResizeEvent *>(event)->size());
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(QSize)> resized_;
};

}  // namespace

void frmDownUi::fitTo(const QSize &client)
{
    const int wider = qMax(0, client.width() - pixelsFromTwips(7245));
    const int taller = qMax(0, client.height() - pixelsFromTwips(8760));
    const int listTaller = taller / 2, tabsTaller = taller - listTaller;
    const auto grown = [](const QRect &r, int dx, int dy, int dw, int dh) {
        return r.translated(dx, dy).adjusted(0, 0, dw, dh);
    };
    WebBrowser1->setGeometry(grown(twipsRect(0, 0, 7185, 1650), 0, 0, wider, 0));
    Frame1->setGeometry(grown(twipsRect(0, 1680, 7215, 3132), 0, 0, wider, listTaller));
    LView->setGeometry(grown(twipsRect(60, 240, 7095, 2475), 0, 0, wider, listTaller));
    lblTishi->setGeometry(grown(twipsRect(120, 2760, 6975, 255), 0, listTaller, wider, 0));
    SSTab1->setGeometry(grown(twipsRect(60, 4920, 4995, 3795), 0, listTaller, wider, tabsTaller));
    const QRect whole(QPoint(0, 0), SSTab1->size());
    if (auto *pane = SSTab1->findChild<QFrame *>(QStringLiteral("SSTab1Pane")))
        pane->setGeometry(0, TabHeight - 1, whole.width(), whole.height() - TabHeight + 1);
    SSTab1Tabs->setGeometry(0, 0, whole.width(), TabHeight);
    for (int i = 0; i < 3; ++i) {
        SSTab1Pages[i]->setGeometry(whole);
        Pic[i]->setGeometry(grown(twipsRect(60, 360, 6192, 3372), 0, 0, wider, tabsTaller));
    }
    for (QPlainTextEdit *box : {txtInfo, txtFile})
        box->setGeometry(grown(twipsRect(60, 300, 6192, 3432), 0, 0, wider, tabsTaller));
    Frame2->setGeometry(twipsRect(5160, 4920, 2055, 3795).translated(wider, listTaller));
    // The URL column takes the extra width; the others keep theirs.
    LView->setColumnWidth(0, LView->width() - FixedColumnsWidth);
}

void frmDownUi::setupUi(QMainWindow &w)
{
    w.setObjectName(QStringLiteral("frmDown"));
    w.setWindowTitle(QStringLiteral("迅羽 2007 - 极速下载器"));
    QFont font = w.font();
    font.setPixelSize(12);
    w.setFont(font);
    QPalette palette = w.palette();
    palette.setColor(QPalette::Window, QColor(192, 192, 192));
    palette.setColor(QPalette::Button, QColor(192, 192, 192));
    w.setPalette(palette);
    w.setAutoFillBackground(true);

    buildMenus(*this, w);

    auto *central = new QWidget(&w);
    central->setObjectName(QStringLiteral("centralWidget"));
    // Never smaller than the designed client area; it starts at that size.
    central->setMinimumSize(pixelsFromTwips(7245), pixelsFromTwips(8760));
    w.setCentralWidget(central);
    w.resize(w.minimumSizeHint());
    central->installEventFilter(new ResizeWatcher(central, [this](QSize size) { fitTo(size); }));

    WebBrowser1 = place(new QTextBrowser(central), "WebBrowser1", twipsRect(0, 0, 7185, 1650));
    WebBrowser1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    WebBrowser1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    WebBrowser1->setOpenExternalLinks(false);
    WebBrowser1->setOpenLinks(false);

    Frame1 = place(new QGroupBox(QStringLiteral("下载任务列表"), central), "Frame1",
                   twipsRect(0, 1680, 7215, 3132));
    LView = place(new TaskListView(Frame1), "LView", twipsRect(60, 240, 7095, 2475));
    lblTishi = place(new QLabel(Frame1), "lblTishi", twipsRect(120, 2760, 6975, 255));

    buildTabControl(*this, central);
    buildLegend(*this, central);

    fitTo(central->minimumSize());

    Timer1 = new QTimer(&w);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
}
