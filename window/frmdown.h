#pragma once
// frmDown: the main window and the composition root. It owns the task model
// (records and states, which LView's rows show), the log, the details box,
// the block-map panels, the timer, the menus, the drop window and the
// download engine. It observes the model: rows change when tasks do.
#include "engine/downengine.h"
#include "engine/downhost.h"
#include "engine/taskmodel.h"
#include "tasks/listlocation.h"
#include "tasks/listwriter.h"
#include "tasks/settings.h"
#include "tasks/tasklistfile.h"
#include "tasks/taskrecord.h"
#include "tasks/urlmessage.h"
#include "window/mainlayout.h"
#include "window/seams.h"

#include <QHash>
#include <QMainWindow>
#include <QSet>
#include <array>

class MinForm;
class QTimer;
class TrayIcon;

class frmDown : public QMainWindow, public DownHost {
    Q_OBJECT
public:
    // `listFolder` holds "Zipvane.zvt"; empty means the program's folder, or the
    // user's data folder when that one cannot keep it (see chooseListLocation).
    // `makeSocket` lets engine tests substitute the sockets.
    explicit frmDown(Seams seams = Seams::real(), const QString &listFolder = {},
                     DownEngine::SocketFactory makeSocket = {}, QWidget *parent = nullptr);
    ~frmDown() override;
    // Where the list of a window made with `listFolder` is kept.
    static ListLocation listLocation(const QString &listFolder);

    // Task rows and records. AddUrl appends a task (its row follows).
    void AddUrl(const QString &myUrl, const QString &mSize, const QString &mGetSize,
                const QString &mFile);
    void AddNewUrl(const QString &myUrl);
    // A new row and its record for `url`, unchecked.
    TaskRecord &appendTask(const QString &url);
    // URLs from outside (the command line, a later start, the browser): each
    // one the add dialog would take becomes a task, without asking; the
    // others are named in the log. What became of each, in order. A link
    // from the browser keeps what the site needs and starts (or queues) at
    // once, in the download folder under the browser's name, or asks once
    // where 保存时询问 is on.
    QList<UrlMessage::Outcome> addOutsideUrls(const QList<UrlMessage::Item> &items);
    // The window restored, raised and active.
    void bringToFront();
    // True, after telling the user in a box over `parent`, when the list
    // already holds `url`.
    bool refuseDuplicate(const QString &url, QWidget *parent);
    // The same for a URL that cannot be downloaded.
    bool refuseUnusable(const QString &url, QWidget *parent);
    // True, after telling the user in a box over `parent`, when the list
    // holds as many tasks as it can.
    bool refuseFullList(QWidget *parent);
    int rowCount() const;
    QString rowUrl(int row) const;
    QString rowState(int row) const;
    QString rowText(int row, int column) const;
    // The 1-based index of the selected row, 0 when none is selected.
    int selectedRow() const;

    // The block map.
    void PicVisible(int Index);
    // Draws panel `Index` again whole, as its task stands: after it has grown.
    void redrawPic(int Index);

    // A column's text of task row `row`.
    void setRowText(int row, int column, const QString &text);

    // DownHost.
    void appendLog(const QString &line) override;
    void DrawDownPic(int Index, qint64 mNum, qint64 mFlen, qint64 ReceiveBytes) override;
    void drawPieces(int index, const PieceMap &map, const QList<PieceMap::Range> &added) override;
    void setClipboardText(const QString &text) override;
    qint64 monotonicMs() override;

    // The log as the user sees it, every line ending with CR LF.
    QString logText() const;
    QString taskListPath() const { return listPath_; }
    Seams &seams() { return seams_; }
    DownEngine &engine() { return *engine_; }
    TaskModel &model() { return *model_; }
    const frmDownUi &ui() const { return ui_; }
    MinForm *minForm() const { return minForm_; }
    TrayIcon *trayIcon() const { return tray_; }

    // Handlers.
    void menuadd_Click();
    void menuDel_Click();
    void menuquit_Click();
    // 全部开始: every task that is neither complete, running, queued nor
    // marked, in list order, asked for its path first where it needs one.
    void menuStartAll_Click();
    // 全部停止: the queue emptied, retries cancelled, every download stopped.
    void menuStopAll_Click();
    // 限速…: the limit for all downloads together, and the selected task's own.
    void menuLimit_Click();
    void menuTaskLimit_Click();
    // 下载文件夹…: where files go when the save dialog is not asked.
    void menuFolder_Click();
    // The selected task's 打开文件 (when complete), 打开所在文件夹, 复制URL,
    // and 删除任务和文件 (asked first: stopped, marked as 删除 does, its file gone).
    void menuOpenFile_Click();
    void menuOpenFolder_Click();
    void menuCopyUrl_Click();
    // 修改URL…: a new address, checked as the add dialog checks one, for the
    // task's next start.
    void menuChangeUrl_Click();
    void menuDelFile_Click();
    void mnuzv_Click();
    void Timer1_Timer();
    void LView_DblClick();
    void LView_MouseUp(Qt::MouseButton button, const QPoint &globalPos);
    void LView_DropText(const QString &text);
    void MinForm_DropText(const QString &text);
    void MinForm_DblClick();

private:
    std::unique_ptr<TaskModel> model_ = std::make_unique<TaskModel>();

public:
    // State the whole window shares: the model's records, and the selection.
    TaskList &DownTask = model_->records();
    qint16 SelRow = -1;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

    // The first of the columns of a running download's figures: "进度",
    // "速度", "剩余时间".
    static constexpr int ProgressColumn = 4;

private:
    bool holdsUrl(const QString &url) const;
    // The model's news drawn: a new row, a state's icon and tooltip, a size.
    void showNewTask(int row);
    void showState(int row, const QString &before, const QString &key);
    // Where the start of `row` goes on once it has a path: the first free
    // slot (chosen now, not before a dialog), the queue, or the busy
    // messages. `quiet`: no busy line for a busy slot passed over on the way
    // to a free one. False when it was refused for want of a slot.
    bool startRow(int row, bool quiet = false);
    bool startWithPath(int row, const QString &path);
    // With 忙时排队 on, a start waits in the queue while no slot is free, or
    // others wait before it.
    bool mustQueue();
    void queueRow(int row, const QString &path);
    // The busy lines of the slots before `freeSlot` (of both when it is 0).
    void showBusy(int freeSlot);
    // The next task of 全部开始 (of run `run`) and those after it.
    void startAllNext(int run);
    // The settings read; resumes what ran or waited in the queue at exit.
    void applySettings();
    // The download folder, made if missing; the home folder where it cannot be.
    QString downloadFolder();
    // Opens the save dialog for row `r` (its uncertain path, or the folder
    // answered last with the URL's clean name) and remembers the folder of
    // the answer.
    void askSavePath(int r, const Seams::SaveAnswer &answer);
    // The path a task gets without asking.
    QString automaticPath(int r);
    // A link from the browser: its task, started (or queued) right after.
    void addBrowserTask(const UrlMessage::Item &item);
    // The safe name for row `r`'s file: the browser's, else the URL's.
    QString fileNameFor(int r) const;
    void resumeTasks();
    // The start handler's answer to a start that could not connect.
    void showStartFailed(int slot, bool byUser);
    // A running download has just completed or failed: the tray says so.
    void notifyEnd(int row, const QString &before, const QString &key);
    // The figures of the running downloads in their rows, the drop window's
    // tooltip and the details of the selected task.
    void showFigures();
    // A row that runs no download: its part done when the size is known.
    void showIdleFigures(int row);
    // The details box: the task's lines, and its figures while it runs or
    // its retry while it waits for one.
    void showDetails(int row);
    // A task waiting for its retry: seconds until it is made.
    qint64 retrySecondsLeft(int row);
    // The state's name, as the row's tooltip shows it.
    QString stateName(int row) const;
    // An arrival's "已下载大小" text: rowText reads it at once, the list
    // shows it with the next coalesced repaint.
    void showGotSize(int row, const QString &text);
    void showMinForm();
    void paintPendingSizes();
    void loadTaskList();
    // Something the list file keeps has changed: it is written once the
    // present event is done, with whatever else changes in it.
    void listChanged();
    // In the background: the window does not wait for the disk.
    void saveTaskList();
    // At once, waiting for any write in hand; a folder that refuses the
    // list sends it to the user's data folder, with a message.
    void saveTaskListNow();
    QVector<TaskRecord> listedRecords() const;
    // The run is ending: the slots stopped with their counts, the list
    // written once, for good.
    void saveLastList();

    frmDownUi ui_;
    MinForm *minForm_ = nullptr;
    TrayIcon *tray_ = nullptr;
    Seams seams_;
    QString listPath_;
    bool listUnreadable_ = false;  // never write over a list we could not read
    bool listSaved_ = false;       // the last write, however the run ends, is done
    bool loadingList_ = false;
    bool listSaveFailureShown_ = false;
    QTimer *listSave_ = nullptr;
    std::unique_ptr<ListWriter> listWriter_ = std::make_unique<ListWriter>();
    QTimer *listWriteWatch_ = nullptr;
    int busySeconds_ = 0;  // seconds with a download running, for the periodic write
    // Records past the rows the list can show, written back as they were.
    QVector<TaskListFile::Unshown> unshown_;
    std::unique_ptr<DownEngine> engine_;
    // Rows whose save dialog is open: a second double-click waits for it.
    QSet<int> asking_;
    Settings settings_;
    // The rows 全部开始 has still to take, and its run: a later 全部开始 or
    // 全部停止 ends the run.
    QVector<int> startAllRows_;
    int startAllRun_ = 0;
    // Downloaded-size texts not yet in their rows, and the timer that puts
    // them there: arrivals come far faster than anyone reads a number.
    QHash<int, QString> pendingSizes_;
    QTimer *sizeRepaint_ = nullptr;
};
