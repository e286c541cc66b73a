#pragma once
// The main window's controls, named as users and tools find them, and the
// code that creates them at their fixed places.
#include <array>

class BlockMapPanel;
class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QActionGroup;
class QMainWindow;
class QMenu;
class QPlainTextEdit;
class QTabBar;
class QTextBrowser;
class QTimer;
class QWidget;
class QSize;
class TaskListView;

struct frmDownUi {
    QTextBrowser *WebBrowser1 = nullptr;
    QGroupBox *Frame1 = nullptr;
    TaskListView *LView = nullptr;
    QLabel *lblTishi = nullptr;
    QWidget *SSTab1 = nullptr;
    QTabBar *SSTab1Tabs = nullptr;
    std::array<QWidget *, 3> SSTab1Pages{};
    QPlainTextEdit *txtInfo = nullptr;
    std::array<BlockMapPanel *, 3> Pic{};
    QPlainTextEdit *txtFile = nullptr;
    QFrame *Frame2 = nullptr;
    QWidget *Shape1 = nullptr;
    QLabel *Label1 = nullptr;
    QPlainTextEdit *Text1 = nullptr;
    QTimer *Timer1 = nullptr;
    QMenu *menufile = nullptr;
    QMenu *menusetup = nullptr;
    QMenu *menuHelp = nullptr;
    QMenu *mnuTask = nullptr;  // the task list's context menu
    QAction *menuadd = nullptr;
    QAction *menuStartAll = nullptr;
    QAction *menuStopAll = nullptr;
    QAction *menuquit = nullptr;
    QAction *menuDel = nullptr;
    QAction *menuQueue = nullptr;      // 忙时排队, checkable
    QAction *menuResume = nullptr;     // 启动时继续下载, checkable
    QAction *menuLimit = nullptr;      // 限速… for all downloads together
    QAction *menuTaskLimit = nullptr;  // 限速… for the selected task (context menu)
    QAction *menuFolder = nullptr;     // 下载文件夹…
    // 每个任务的连接数: 自动, then 1 to 16, one checked.
    QMenu *menuConnections = nullptr;
    QActionGroup *connectionChoices = nullptr;
    // The selected task's actions (context menu).
    QAction *menuOpenFile = nullptr;
    QAction *menuOpenFolder = nullptr;
    QAction *menuCopyUrl = nullptr;
    QAction *menuChangeUrl = nullptr;
    QAction *menuDelFile = nullptr;
    QAction *menuAsk = nullptr;  // 保存时询问, checkable
    QAction *mnuzv = nullptr;

    // Places every control for a client area of `client` (never smaller
    // than the designed one).
    void fitTo(const QSize &client);
    // 大小, 已下载大小 and 时间 together: the URL column has the rest of the list.
    static constexpr int FixedColumnsWidth = 240;

    // Creates every control in `window`, which takes the caption, colours
    // and fixed size of the main window.
    void setupUi(QMainWindow &window);
};
