<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>ColumnTitles</name>
    <message>
        <source>程序编号</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>程序名称</source>
        <translation>Program</translation>
    </message>
    <message>
        <source>运行参数</source>
        <translation>Parameters</translation>
    </message>
    <message>
        <source>运行时间</source>
        <translation>Seconds</translation>
    </message>
    <message>
        <source>运行次数</source>
        <translation>Runs</translation>
    </message>
</context>
<context>
    <name>EntryOptionsForm</name>
    <message>
        <source>选择工作文件夹</source>
        <translation>Choose Working Folder</translation>
    </message>
    <message>
        <source>立即结束</source>
        <translation>End it at once</translation>
    </message>
    <message>
        <source>先请求结束，等待</source>
        <translation>Ask it to end, wait</translation>
    </message>
    <message>
        <source>等到运行时间结束</source>
        <translation>Wait until its time is up</translation>
    </message>
    <message>
        <source>重新启动，最多</source>
        <translation>Start it again, at most</translation>
    </message>
    <message>
        <source>开始下一次运行</source>
        <translation>Begin the next run</translation>
    </message>
    <message>
        <source>停止运行</source>
        <translation>Stop the schedule</translation>
    </message>
    <message>
        <source>保留输出，写入日志</source>
        <translation>Keep its output in a log</translation>
    </message>
    <message>
        <source>在独立范围中运行</source>
        <translation>Run it in a scope of its own</translation>
    </message>
    <message>
        <source>更多选项</source>
        <translation>More Options</translation>
    </message>
    <message>
        <source>存储的选项有误，下面显示的是可用的部分：%1</source>
        <translation>The stored options are faulty; below is the part that can be used: %1</translation>
    </message>
    <message>
        <source>工作文件夹：</source>
        <translation>Working folder:</translation>
    </message>
    <message>
        <source>空：运行器自己的文件夹</source>
        <translation>Empty: the runner&apos;s own folder</translation>
    </message>
    <message>
        <source>环境变量：</source>
        <translation>Environment:</translation>
    </message>
    <message>
        <source>每行一个：名称=值</source>
        <translation>One per line: NAME=value</translation>
    </message>
    <message>
        <source>结束方式：</source>
        <translation>Ending:</translation>
    </message>
    <message>
        <source>秒后强制结束（1–60）</source>
        <translation>seconds, then force it (1–60)</translation>
    </message>
    <message>
        <source>提前退出时：</source>
        <translation>If it exits early:</translation>
    </message>
    <message>
        <source>次（0–100）</source>
        <translation>times (0–100)</translation>
    </message>
    <message>
        <source>输出：</source>
        <translation>Output:</translation>
    </message>
    <message>
        <source>运行范围：</source>
        <translation>Scope:</translation>
    </message>
    <message>
        <source>如 512M</source>
        <translation>e.g. 512M</translation>
    </message>
    <message>
        <source>如 50%</source>
        <translation>e.g. 50%</translation>
    </message>
    <message>
        <source>内存上限：</source>
        <translation>Memory limit:</translation>
    </message>
    <message>
        <source>处理器配额：</source>
        <translation>CPU quota:</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>不能使用独立范围：</source>
        <translation>A scope of its own cannot be used: </translation>
    </message>
    <message>
        <source>工作文件夹“%1”不是完整路径，请写以 / 开头的路径</source>
        <translation>The working folder &quot;%1&quot; is not a full path; write a path that begins with /</translation>
    </message>
    <message>
        <source>工作文件夹“%1”不存在或不是文件夹</source>
        <translation>The working folder &quot;%1&quot; does not exist or is not a folder</translation>
    </message>
    <message>
        <source>环境变量第 %1 行“%2”不是“名称=值”的形式：名称由字母、数字和下划线组成，不以数字开头</source>
        <translation>Line %1 of the environment, &quot;%2&quot;, is not of the form NAME=value: a name is made of letters, digits and underscores, and does not begin with a digit</translation>
    </message>
    <message>
        <source>等待结束的时间“%1”不是 1 到 %2 之间的整数（秒）</source>
        <translation>The time to wait for the end, &quot;%1&quot;, is not a whole number of seconds from 1 to %2</translation>
    </message>
    <message>
        <source>重新启动的次数“%1”不是 0 到 %2 之间的整数</source>
        <translation>The number of restarts, &quot;%1&quot;, is not a whole number from 0 to %2</translation>
    </message>
    <message>
        <source>内存上限“%1”不是 systemd 的写法，应如 512M、2G、50% 或 infinity</source>
        <translation>The memory limit &quot;%1&quot; is not written as systemd writes it; write e.g. 512M, 2G, 50% or infinity</translation>
    </message>
    <message>
        <source>处理器配额“%1”不是 systemd 的写法，应如 50% 或 200%</source>
        <translation>The CPU quota &quot;%1&quot; is not written as systemd writes it; write e.g. 50% or 200%</translation>
    </message>
    <message>
        <source>选项无法使用：%1</source>
        <translation>The options cannot be used: %1</translation>
    </message>
    <message>
        <source>工作文件夹</source>
        <translation>Working folder</translation>
    </message>
    <message>
        <source>程序在其中启动的文件夹；空则为运行器自己的文件夹</source>
        <translation>The folder the program starts in; empty for the runner&apos;s own folder</translation>
    </message>
    <message>
        <source>在对话框中选择工作文件夹</source>
        <translation>Chooses the working folder in a dialog</translation>
    </message>
    <message>
        <source>环境变量</source>
        <translation>Environment</translation>
    </message>
    <message>
        <source>给程序的环境变量，每行一个：名称=值</source>
        <translation>Variables for the program&apos;s environment, one per line: NAME=value</translation>
    </message>
    <message>
        <source>等待秒数</source>
        <translation>Seconds to wait</translation>
    </message>
    <message>
        <source>请求结束后等待多少秒再强制结束（1–60）</source>
        <translation>How many seconds to wait after asking the program to end before forcing it (1–60)</translation>
    </message>
    <message>
        <source>最多重新启动次数</source>
        <translation>Most restarts</translation>
    </message>
    <message>
        <source>程序提前退出时最多重新启动几次（0–100）</source>
        <translation>How many times at most the program is started again when it exits early (0–100)</translation>
    </message>
    <message>
        <source>内存上限</source>
        <translation>Memory limit</translation>
    </message>
    <message>
        <source>独立范围的内存上限，如 512M</source>
        <translation>The memory limit of the program&apos;s scope, e.g. 512M</translation>
    </message>
    <message>
        <source>处理器配额</source>
        <translation>CPU quota</translation>
    </message>
    <message>
        <source>独立范围的处理器配额，如 50%</source>
        <translation>The CPU quota of the program&apos;s scope, e.g. 50%</translation>
    </message>
    <message>
        <source>采用这些选项并关闭对话框</source>
        <translation>Takes these options and closes the dialog</translation>
    </message>
    <message>
        <source>不采用，关闭对话框</source>
        <translation>Closes the dialog without taking them</translation>
    </message>
</context>
<context>
    <name>EntryOptionsText</name>
    <message>
        <source>工作文件夹：%1</source>
        <translation>Working folder: %1</translation>
    </message>
    <message>
        <source>环境变量：%1</source>
        <translation>Environment: %1</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>结束方式：先请求结束，%1 秒后强制结束</source>
        <translation>Ending: asked to end, forced after %1 seconds</translation>
    </message>
    <message>
        <source>提前退出时：重新启动，最多 %1 次</source>
        <translation>If it exits early: started again, at most %1 times</translation>
    </message>
    <message>
        <source>提前退出时：开始下一次运行</source>
        <translation>If it exits early: the next run begins</translation>
    </message>
    <message>
        <source>提前退出时：停止运行</source>
        <translation>If it exits early: the schedule stops</translation>
    </message>
    <message>
        <source>保留输出</source>
        <translation>Output kept</translation>
    </message>
    <message>
        <source>内存上限 %1</source>
        <translation>memory limit %1</translation>
    </message>
    <message>
        <source>处理器配额 %1</source>
        <translation>CPU quota %1</translation>
    </message>
    <message>
        <source>独立范围</source>
        <translation>Scope of its own</translation>
    </message>
    <message>
        <source>独立范围：%1</source>
        <translation>Scope of its own: %1</translation>
    </message>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
</context>
<context>
    <name>HistoryModel</name>
    <message>
        <source>开始时间</source>
        <translation>Started</translation>
    </message>
    <message>
        <source>运行时长(秒)</source>
        <translation>Ran (s)</translation>
    </message>
    <message>
        <source>结束方式</source>
        <translation>Ending</translation>
    </message>
    <message>
        <source>%1
经由 %2 打开</source>
        <translation>%1
opened with %2</translation>
    </message>
</context>
<context>
    <name>HistoryWindow</name>
    <message>
        <source>只显示选中的程序</source>
        <translation>Only the selected program</translation>
    </message>
    <message>
        <source>保存为CSV…</source>
        <translation>Save as CSV…</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>运行记录</source>
        <translation>Run History</translation>
    </message>
    <message>
        <source>运行记录读取失败：
</source>
        <translation>The run history could not be read:
</translation>
    </message>
    <message>
        <source>共 %1 条</source>
        <translation>%1 in all</translation>
    </message>
    <message>
        <source>运行记录.csv</source>
        <translation>run-history.csv</translation>
    </message>
    <message>
        <source>无法保存文件 %1：
%2</source>
        <translation>The file %1 could not be saved:
%2</translation>
    </message>
    <message>
        <source>程序的每次运行，最新的在上：开始时间、程序、运行时长和结束方式</source>
        <translation>Every run of a program, newest first: when it started, the program, how long it ran and how it ended</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>该记录的程序编号不是整数，不能有选项</source>
        <translation>This entry&apos;s number is not a whole number, so it cannot have options</translation>
    </message>
    <message>
        <source>数据库打开失败</source>
        <translation>The database could not be opened</translation>
    </message>
    <message>
        <source>记录读入失败</source>
        <translation>The entry could not be read</translation>
    </message>
    <message>
        <source>数据库正被其他程序使用，请稍后再试</source>
        <translation>Another program is using the database; please try again later</translation>
    </message>
    <message>
        <source>数据库正被其他程序使用，未保存任何更改，请稍后再试</source>
        <translation>Another program is using the database; nothing was saved. Please try again later</translation>
    </message>
    <message>
        <source>该记录已被其他程序修改或删除，未做任何更改，列表已重新读入</source>
        <translation>Another program has changed or deleted this entry; nothing was changed, and the list has been read again</translation>
    </message>
</context>
<context>
    <name>RunEndings</name>
    <message>
        <source>按时结束</source>
        <translation>Ended at its time</translation>
    </message>
    <message>
        <source>自行退出，退出状态 %1</source>
        <translation>Exited by itself, exit status %1</translation>
    </message>
    <message>
        <source>被信号 %1 终止</source>
        <translation>Killed by signal %1</translation>
    </message>
    <message>
        <source>无法启动</source>
        <translation>Could not start</translation>
    </message>
    <message>
        <source>无法结束</source>
        <translation>Could not be ended</translation>
    </message>
    <message>
        <source>被停止</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>运行中</source>
        <translation>Running</translation>
    </message>
    <message>
        <source>运行器意外结束，运行中断</source>
        <translation>Interrupted: the runner ended unexpectedly</translation>
    </message>
    <message>
        <source>被跳过</source>
        <translation>Skipped</translation>
    </message>
    <message>
        <source>：%1</source>
        <translation>: %1</translation>
    </message>
    <message>
        <source>（于 %1 回收）</source>
        <translation> (collected at %1)</translation>
    </message>
</context>
<context>
    <name>RunEngine</name>
    <message>
        <source>条目 %1 的程序没有自己的范围，照常随其进程组结束：%2</source>
        <translation>The program of entry %1 has no scope of its own and ends with its process group as usual: %2</translation>
    </message>
    <message>
        <source>条目 %1 的限制没有生效：%2</source>
        <translation>The limits of entry %1 are not in force: %2</translation>
    </message>
    <message>
        <source>条目 %1 的程序提前退出，按其选项停止运行</source>
        <translation>The program of entry %1 exited early; the schedule stops, as its options ask</translation>
    </message>
</context>
<context>
    <name>RunNotifier</name>
    <message>
        <source>程序 %1</source>
        <translation>Program %1</translation>
    </message>
    <message>
        <source>条目 %1 的程序 %2</source>
        <translation>Entry %1 (%2)</translation>
    </message>
    <message>
        <source>%1 无法启动</source>
        <translation>%1 could not start</translation>
    </message>
    <message>
        <source>%1 无法结束</source>
        <translation>%1 could not be ended</translation>
    </message>
    <message>
        <source>%1 提前退出</source>
        <translation>%1 exited early</translation>
    </message>
    <message>
        <source>运行已结束</source>
        <translation>Run finished</translation>
    </message>
    <message>
        <source>日程中的条目都已运行完毕</source>
        <translation>Every entry of the schedule has run</translation>
    </message>
</context>
<context>
    <name>RunTray</name>
    <message>
        <source>显示窗口</source>
        <translation>Show Window</translation>
    </message>
    <message>
        <source>关闭窗口时在托盘中继续运行</source>
        <translation>Keep Running in the Tray When Closed</translation>
    </message>
    <message>
        <source>桌面通知</source>
        <translation>Desktop Notifications</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>开始运行</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止运行</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>程序 %1</source>
        <translation>Program %1</translation>
    </message>
    <message>
        <source>条目 %1（%2）</source>
        <translation>Entry %1 (%2)</translation>
    </message>
    <message>
        <source>第 %1 次，共 %2 次</source>
        <translation>Run %1 of %2</translation>
    </message>
    <message>
        <source>，还剩 %1 秒</source>
        <translation>, %1 s left</translation>
    </message>
    <message>
        <source>已停止</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>日程中没有条目</source>
        <translation>the schedule has no entries</translation>
    </message>
    <message>
        <source>正在等待可运行的条目：%1</source>
        <translation>Waiting for entries to run: %1</translation>
    </message>
    <message>
        <source>已暂停</source>
        <translation>Paused</translation>
    </message>
    <message>
        <source>正在运行</source>
        <translation>Running</translation>
    </message>
</context>
<context>
    <name>SaveFileDialog</name>
    <message>
        <source>保存为CSV</source>
        <translation>Save as CSV</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
</context>
<context>
    <name>TFormMain</name>
    <message>
        <source>已暂停</source>
        <translation>Paused</translation>
    </message>
    <message>
        <source>Vantrel程序自动运行器</source>
        <translation>Vantrel Program Auto-Runner</translation>
    </message>
    <message>
        <source>新增记录</source>
        <translation>New</translation>
    </message>
    <message>
        <source>修改记录</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>删除记录</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>开始运行</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止运行</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>运行记录</source>
        <translation>History</translation>
    </message>
    <message>
        <source>下一个</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>合计</source>
        <translation>Total</translation>
    </message>
    <message>
        <source>请先选中要修改的记录</source>
        <translation>Please select the entry to edit first</translation>
    </message>
    <message>
        <source>请先选中要删除的记录</source>
        <translation>Please select the entry to delete first</translation>
    </message>
    <message>
        <source>确实要删除该记录吗？</source>
        <translation>Do you really want to delete this entry?</translation>
    </message>
    <message>
        <source>删除警告</source>
        <translation>Delete Entry</translation>
    </message>
    <message>
        <source>此记录有选项：
</source>
        <translation>This entry has options:
</translation>
    </message>
    <message>
        <source>此记录的选项无法使用：</source>
        <translation>This entry&apos;s options cannot be used: </translation>
    </message>
    <message>
        <source>继续</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>另一个运行器正在运行这个日程</source>
        <translation>Another runner is running this schedule</translation>
    </message>
    <message>
        <source>用户 %1</source>
        <translation>user %1</translation>
    </message>
    <message>
        <source>无窗口运行</source>
        <translation>without a window</translation>
    </message>
    <message>
        <source>窗口</source>
        <translation>window</translation>
    </message>
    <message>
        <source>：进程 %1（%2）</source>
        <translation>: process %1 (%2)</translation>
    </message>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
    <message>
        <source>，本窗口未开始运行</source>
        <translation>; this window did not start its run</translation>
    </message>
    <message>
        <source>运行记录…</source>
        <translation>Run History…</translation>
    </message>
    <message>
        <source>在日程中新增一个程序</source>
        <translation>Adds a program to the schedule</translation>
    </message>
    <message>
        <source>修改选中的记录</source>
        <translation>Edits the selected entry</translation>
    </message>
    <message>
        <source>从日程中删除选中的记录</source>
        <translation>Deletes the selected entry from the schedule</translation>
    </message>
    <message>
        <source>从选中的记录开始，按日程依次运行程序</source>
        <translation>Runs the programs of the schedule in turn, beginning at the selected entry</translation>
    </message>
    <message>
        <source>结束正在运行的程序，停止运行日程</source>
        <translation>Ends the running program and stops the schedule</translation>
    </message>
    <message>
        <source>打开运行记录窗口</source>
        <translation>Opens the run history window</translation>
    </message>
    <message>
        <source>日程</source>
        <translation>Schedule</translation>
    </message>
    <message>
        <source>日程中的程序，每行一个，按编号运行；双击一行可修改</source>
        <translation>The programs of the schedule, one per row, run in the order of their numbers; double-click a row to edit it</translation>
    </message>
    <message>
        <source>桌面通知</source>
        <translation>Desktop Notifications</translation>
    </message>
</context>
<context>
    <name>TFormProgram</name>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>更多选项…</source>
        <translation>Options…</translation>
    </message>
    <message>
        <source>未设选项</source>
        <translation>No options set</translation>
    </message>
    <message>
        <source>已设选项：
</source>
        <translation>Options set:
</translation>
    </message>
    <message>
        <source>找不到要修改的记录</source>
        <translation>The entry to edit cannot be found</translation>
    </message>
    <message>
        <source>该记录所在的表没有主键，记录不能有选项</source>
        <translation>The entry&apos;s table has no primary key, so its entries cannot have options</translation>
    </message>
    <message>
        <source>记录新增成功</source>
        <translation>The entry was added</translation>
    </message>
    <message>
        <source>记录修改成功</source>
        <translation>The entry was changed</translation>
    </message>
    <message>
        <source>%1：</source>
        <translation>%1:</translation>
    </message>
    <message>
        <source>要运行的程序：完整路径或命令名</source>
        <translation>The program to run: a full path or a command name</translation>
    </message>
    <message>
        <source>传给程序的参数，以空格分隔</source>
        <translation>The parameters given to the program, separated by spaces</translation>
    </message>
    <message>
        <source>每次运行的秒数</source>
        <translation>How many seconds each run lasts</translation>
    </message>
    <message>
        <source>程序运行的次数</source>
        <translation>How many times the program runs</translation>
    </message>
    <message>
        <source>选择程序</source>
        <translation>Choose Program</translation>
    </message>
    <message>
        <source>在文件对话框中选择要运行的程序</source>
        <translation>Chooses the program to run in a file dialog</translation>
    </message>
    <message>
        <source>选择参数文件</source>
        <translation>Choose Parameter File</translation>
    </message>
    <message>
        <source>在文件对话框中选择一个文件作为运行参数</source>
        <translation>Chooses a file as the parameter in a file dialog</translation>
    </message>
    <message>
        <source>保存此记录并关闭对话框</source>
        <translation>Saves the entry and closes the dialog</translation>
    </message>
    <message>
        <source>不保存，关闭对话框</source>
        <translation>Closes the dialog without saving</translation>
    </message>
    <message>
        <source>更多选项</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>此记录的工作文件夹、环境变量、结束方式等选项</source>
        <translation>The entry&apos;s working folder, environment, ending and other options</translation>
    </message>
</context>
</TS>
