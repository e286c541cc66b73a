#pragma once
// frmDown: the main window and the composition root. It owns the task rows
// (LView) and records (DownTask), the log, the details box, the block-map
// panels, the timer, the menus, the drop window and the download engine.
#include "window/seams.h"
#include "tasks/taskrecord.h"
#include "engine/downengine.h"
#include "engine/downhost.h"

#include <QHash>
#include <QMainWindow>
#include <array>

class BlockMapPanel;
class MinForm;
class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTabBar;
class QTextBrowser;
class QTimer;
class QWidget;
class TaskListView;

class frmDown : public QMainWindow, public DownHost {
    Q_OBJECT
public:
    // `listFolder` holds "Zipvane.zvt"; empty means the program's folder, or the
    // user's data folder when that one cannot keep it (see chooseListLocation).
    // `makeSocket` lets engine tests substitute the sockets.
    explicit frmDown(Seams seams = Seams::real(), const QString &listFolder = {},
                     DownEngine::SocketFactory makeSocket = {}, QWidget *parent = nullptr);
    ~frmDown() override;

    // Task rows and records.
    void AddUrl(const QString &myUrl, const QString &mSize, const QString &mGetSize,
                const QString &mFile);
    void AddNewUrl(const QString &myUrl);
    int rowCount() const;
    QString rowUrl(int row) const;
    QString rowState(int row) const;
    QString rowText(int row, int column) const;
    // The 1-based index of the selected row, 0 when none is selected.
    int selectedRow() const;

    // An arrival's "已下载大小" text: rowText reads it at once, the list
    // shows it with the next coalesced repaint.
    void showGotSize(int row, const QString &text);

    // Ending a session and the block map.
    void CloseSocket(int Index, const QString &ClsStr);
    void PicVisible(int Index);

    // DownHost.
    TaskRecord &task(int row) override { return DownTask(row); }
    void setRowState(int row, const QString &key) override;
    void setRowText(int row, int column, const QString &text) override;
    void appendLog(const QString &line) override;
    void DrawDownPic(int Index, qint64 mNum, qint64 mFlen, qint64 ReceiveBytes) override;
    void drawMinFormDot(int xTwips, int yTwips, int radiusTwips, QRgb fill) override;
    void setClipboardText(const QString &text) override;
    qint64 monotonicMs() override;

    // The log as the user sees it, every line ending with CR LF.
    QString logText() const;
    QString taskListPath() const { return listPath_; }
    Seams &seams() { return seams_; }
    DownEngine &engine() { return *engine_; }

    // Handlers.
    void menuadd_Click();
    void menuDel_Click();
    void menuquit_Click();
    void mnuzv_Click();
    void Timer1_Timer();
    void LView_DblClick();
    void LView_MouseUp(Qt::MouseButton button, const QPoint &globalPos);
    void LView_DropText(const QString &text);
    void MinForm_DropText(const QString &text);
    void MinForm_DblClick();

    // State the whole window shares.
    TaskList DownTask;
    qint16 SelRow = -1;

    // Controls, named as the user and tools find them.
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
    MinForm *minForm = nullptr;
    QMenu *menufile = nullptr;
    QMenu *menusetup = nullptr;
    QMenu *menuHelp = nullptr;
    QAction *menuadd = nullptr;
    QAction *menuquit = nullptr;
    QAction *menuDel = nullptr;
    QAction *mnuzv = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void showMinForm();
    void paintPendingSizes();
    void loadTaskList();
    void saveTaskList();

    Seams seams_;
    QString listPath_;
    bool listUnreadable_ = false;   // never write over a list we could not read
    bool listSaved_ = false;        // the list is written once, however the run ends
    std::unique_ptr<DownEngine> engine_;
    // Downloaded-size texts not yet in their rows, and the timer that puts
    // them there: arrivals come far faster than anyone reads a number.
    QHash<int, QString> pendingSizes_;
    QTimer *sizeRepaint_ = nullptr;
};
