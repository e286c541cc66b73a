// The one road from the browser to Zipvane: every link, from the menu or a
// caught download, goes through sendToZipvane. Shared by the background and
// the options page.
"use strict";

// Firefox's `browser` answers with promises; Chromium's `chrome` does too.
const ext = globalThis.browser || globalThis.chrome;
const NativeHost = "zipvane";

// The types caught by default: archives, disk images, installers, audio, video.
const DefaultTypes = [
  "zip", "rar", "7z", "tar", "gz", "tgz", "bz2", "xz", "zst",
  "iso", "img", "dmg",
  "exe", "msi", "deb", "rpm", "apk", "appimage",
  "mp3", "flac", "wav", "ogg", "m4a", "aac",
  "mp4", "mkv", "avi", "mov", "webm", "wmv", "flv",
];
const DefaultOptions = { minMiB: 1, types: DefaultTypes.join(" "), paused: false };

async function zipvaneOptions() {
  return Object.assign({}, DefaultOptions, await ext.storage.local.get(DefaultOptions));
}

// The Cookie header's value the browser would send to `url`.
async function cookiesFor(url) {
  try {
    const cookies = await ext.cookies.getAll({ url });
    return cookies.map((c) => c.name + "=" + c.value).join("; ");
  } catch (e) {
    return "";
  }
}

// Hands `url` to Zipvane with the page it came from and the name the browser
// suggests; the host's answer: {ok: true} or {ok: false, error}.
async function sendToZipvane(url, referrer, filename) {
  const message = {
    url,
    referrer: referrer || "",
    cookies: await cookiesFor(url),
    userAgent: navigator.userAgent,
    filename: filename || "",
  };
  try {
    return await ext.runtime.sendNativeMessage(NativeHost, message);
  } catch (e) {
    return { ok: false, error: String(e && e.message ? e.message : e) };
  }
}

// The http and https links inside the page's selection.
function linksInSelection() {
  const selection = window.getSelection();
  const links = new Set();
  for (let i = 0; i < selection.rangeCount; ++i) {
    const range = selection.getRangeAt(i);
    for (const a of document.querySelectorAll("a[href]")) {
      if (range.intersectsNode(a) && /^https?:/i.test(a.href)) links.add(a.href);
    }
  }
  return [...links];
}

// The context menu's two entries.
async function zipvaneMenuClicked(info, tab) {
  const page = (tab && tab.url) || info.pageUrl || "";
  if (info.menuItemId === "zipvane-link") return [await sendToZipvane(info.linkUrl, page, "")];
  if (info.menuItemId !== "zipvane-selection" || !tab || tab.id === undefined) return [];
  const [found] = await ext.scripting.executeScript({
    target: { tabId: tab.id, allFrames: false },
    func: linksInSelection,
  });
  const answers = [];
  for (const url of (found && found.result) || []) answers.push(await sendToZipvane(url, page, ""));
  return answers;
}
