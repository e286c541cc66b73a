"use strict";

const $ = (id) => document.getElementById(id);

function show(options) {
  $("capture").checked = !options.paused;
  $("minMiB").value = options.minMiB;
  $("types").value = options.types;
}

$("save").addEventListener("click", async () => {
  await ext.storage.local.set({
    paused: !$("capture").checked,
    minMiB: Math.max(0, Number($("minMiB").value) || 0),
    types: $("types").value.trim(),
  });
  $("status").textContent = "已保存";
});

$("reset").addEventListener("click", async () => {
  await ext.storage.local.set(DefaultOptions);
  show(DefaultOptions);
  $("status").textContent = "已恢复默认";
});

ext.runtime.sendMessage({ kind: "state" }).then(show, () => zipvaneOptions().then(show));
