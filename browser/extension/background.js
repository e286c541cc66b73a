// Menus, caught downloads and the toolbar's 暂停捕获. Listeners are added at
// once when the background starts: it is stopped when idle and woken by them.
"use strict";

if (typeof importScripts === "function") importScripts("send.js");

ext.runtime.onInstalled.addListener(() => {
  ext.contextMenus.removeAll(() => {
    ext.contextMenus.create({ id: "zipvane-link", title: "用迅羽下载", contexts: ["link"] });
    ext.contextMenus.create({
      id: "zipvane-selection",
      title: "用迅羽下载所有链接",
      contexts: ["selection"],
    });
  });
  showPaused();
});
ext.runtime.onStartup.addListener(showPaused);
ext.storage.onChanged.addListener((changes) => {
  if ("paused" in changes) showPaused();
});

ext.contextMenus.onClicked.addListener((info, tab) => {
  zipvaneMenuClicked(info, tab);
});

async function showPaused() {
  const { paused } = await zipvaneOptions();
  await ext.action.setTitle({ title: paused ? "继续捕获" : "暂停捕获" });
  await ext.action.setBadgeText({ text: paused ? "停" : "" });
}

ext.action.onClicked.addListener(async () => {
  const { paused } = await zipvaneOptions();
  await ext.storage.local.set({ paused: !paused });
  showPaused();
});

// The options page asks how things stand (and so knows the background runs).
ext.runtime.onMessage.addListener((message, sender, answer) => {
  if (message && message.kind === "state") zipvaneOptions().then(answer);
  return true;
});

// URLs let through once: the browser's own download after Zipvane refused it.
const letThrough = new Set();

function nameOf(path) {
  return (path || "").split(/[\\/]/).pop();
}

async function shouldCatch(item, name) {
  const options = await zipvaneOptions();
  const url = item.finalUrl || item.url || "";
  if (options.paused || !/^https?:/i.test(url) || letThrough.delete(url)) return false;
  const size = item.totalSize > 0 ? item.totalSize : item.fileSize > 0 ? item.fileSize : -1;
  if (size >= 0 && size < options.minMiB * 1024 * 1024) return false;
  const types = options.types.toLowerCase().split(/[\s,]+/).filter(Boolean);
  const dot = name.lastIndexOf(".");
  return dot > 0 && types.includes(name.slice(dot + 1).toLowerCase());
}

async function hand(item, name) {
  const url = item.finalUrl || item.url;
  await ext.downloads.cancel(item.id);
  await ext.downloads.erase({ id: item.id });
  const answer = await sendToZipvane(url, item.referrer || "", name);
  if (!answer || !answer.ok) {
    // Zipvane could not take it: the browser downloads it after all.
    letThrough.add(url);
    ext.downloads.download({ url });
  }
}

if (ext.downloads.onDeterminingFilename) {
  // Chromium: the name it suggests is known here, before anything is saved.
  ext.downloads.onDeterminingFilename.addListener((item, suggest) => {
    const name = nameOf(item.filename);
    shouldCatch(item, name).then((catchIt) => {
      if (catchIt) hand(item, name);
      else suggest();
    });
    return true;
  });
} else {
  // Firefox has no such event: the download is caught as it is created.
  ext.downloads.onCreated.addListener(async (item) => {
    const name = nameOf(item.filename);
    if (await shouldCatch(item, name)) hand(item, name);
  });
}
