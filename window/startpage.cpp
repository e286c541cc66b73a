#include "window/startpage.h"

#include "window/portal.h"

QString startPageHtml()
{
    return QStringLiteral("<html><body style=\"margin:0; background:#ffffff;\">"
                          "<table width=\"100%\" cellpadding=\"4\" cellspacing=\"0\">"
                          "<tr><td style=\"background:#1f4e9c; color:#ffffff;\">"
                          "<span style=\"font-size:15px; font-weight:bold;\">迅羽 2007</span>"
                          "&nbsp;&nbsp;<span style=\"font-size:12px;\">极速下载器</span></td></tr>"
                          "<tr><td style=\"font-size:12px;\">"
                          "把网址拖到任务列表或蓝色小窗口上即可加入下载；双击任务开始或停止。<br>"
                          "同时下载两个文件，支持断点续传和代理服务器。<br>"
                          "<a href=\"%1\">%2</a></td></tr>"
                          "</table></body></html>")
        .arg(PortalUrl, PortalName);
}
