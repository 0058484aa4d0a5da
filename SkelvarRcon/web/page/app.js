// The monitor's web page: logs in, shows what /api/ tells and sends the
// page's actions back. Everything that comes from the server (players'
// names, skins, record fields, log lines) is set as text, never as markup.
"use strict";

const state = {
  csrf: "",
  role: "",
  list: "bans",
  sort: "ip",
  descending: false,
  listsVersion: -1,
  logSize: -1,
  consoleSeq: -1,
  settingsVersion: -1,
  settingsTab: 0,
  settings: null,
  live: null,
  poll: 0,
};

const columns = {
  warnings: ["ip", "name", "reason", "date"],
  kicks: ["ip", "name", "reason", "date"],
  bans: ["ip", "name", "reason", "date", "until"],
};
const headers = { ip: "Address", name: "Name", reason: "Reason", date: "Date", until: "Until" };
// The window's row buttons, with its captions.
const rowActions = {
  warnings: [["Remove Warning", "remove"], ["Convert to Ban", "convert"]],
  kicks: [["Remove Kick", "remove"], ["Convert to Ban", "convert"]],
  bans: [["Remove Ban", "remove"], ["Ban Subrank", "subrank"], ["Ban Provider", "provider"]],
};

const $ = (id) => document.getElementById(id);

function element(tag, text, className) {
  const e = document.createElement(tag);
  if (text !== undefined && text !== null) e.textContent = String(text);
  if (className) e.className = className;
  return e;
}

function button(text, onClick) {
  const b = element("button", text, "small");
  b.type = "button";
  b.addEventListener("click", onClick);
  return b;
}

async function api(method, path, body) {
  const options = { method, headers: {}, credentials: "same-origin", cache: "no-store" };
  if (method === "POST") {
    options.headers["Content-Type"] = "application/json";
    options.headers["X-CSRF-Token"] = state.csrf;
    options.body = JSON.stringify(body || {});
  }
  const response = await fetch(path, options);
  let data = {};
  try {
    data = await response.json();
  } catch (e) {
    data = {};
  }
  if (response.status === 401 && path !== "/api/login") showLogin();
  return { status: response.status, data };
}

// ---- Login ------------------------------------------------------------------

function showLogin() {
  stopLive();
  // Nothing of the last session stays in the page for the next account to read.
  for (const id of ["settings-tabs", "settings-page", "action-result", "console-output", "log", "state", "notice"]) {
    $(id).replaceChildren();
  }
  for (const id of ["players", "records"]) $(id).tBodies[0].replaceChildren();
  state.settings = null;
  $("app").hidden = true;
  $("login").hidden = false;
  $("login-name").focus();
}

function showApp(session) {
  state.csrf = session.csrf;
  state.role = session.role;
  document.body.classList.toggle("viewer", session.role !== "admin");
  $("who").textContent = session.account + " (" + session.role + ")";
  $("login").hidden = true;
  $("app").hidden = false;
  state.listsVersion = -1;
  state.logSize = -1;
  state.consoleSeq = -1;
  state.settingsVersion = -1;
  selectList(state.list);
  startLive();
}

$("login-form").addEventListener("submit", async (event) => {
  event.preventDefault();
  const answer = await api("POST", "/api/login", { name: $("login-name").value, password: $("login-password").value });
  $("login-password").value = "";
  if (answer.status === 200) {
    $("login-error").textContent = "";
    showApp(answer.data);
  } else {
    $("login-error").textContent = answer.data.error || "Login refused.";
  }
});

$("logout").addEventListener("click", async () => {
  await api("POST", "/api/logout");
  showLogin();
});

// ---- Live state -------------------------------------------------------------

function render(s) {
  const status = s.status;
  $("state").textContent = status.state;
  $("server").textContent = status.server;
  $("map").textContent = status.map || "-";
  $("os").textContent = status.os || "-";
  $("cheats").textContent = status.cheats || "-";
  $("mods").textContent = (status.mods || []).filter((m) => m).join(", ") || "-";
  $("last-data").textContent = status.lastData || "-";
  $("notice").hidden = status.answering;
  $("notice").textContent = status.notice || "";
  $("start").disabled = status.running || !status.canStart;
  $("stop").disabled = !status.running || !status.canStop;
  $("scan").disabled = !status.running || !status.canStart;
  $("console-input").disabled = !status.canUseConsole;
  renderPlayers(s.players);
  for (const tab of document.querySelectorAll(".tabs button")) {
    tab.querySelector(".count").textContent = s.lists[tab.dataset.list];
  }
  if (s.listsVersion !== state.listsVersion) {
    state.listsVersion = s.listsVersion;
    loadList();
  }
  if (s.logSize !== state.logSize) {
    state.logSize = s.logSize;
    loadLog();
  }
  if (state.role === "admin" && s.console !== state.consoleSeq) {
    state.consoleSeq = s.console;
    loadConsole();
  }
  if (state.role === "admin" && s.settingsVersion !== state.settingsVersion) {
    state.settingsVersion = s.settingsVersion;
    loadSettings();
  }
}

function renderPlayers(players) {
  const body = $("players").tBodies[0];
  body.replaceChildren();
  $("player-count").textContent = players.length;
  for (const p of players) {
    const row = document.createElement("tr");
    row.append(element("td", p.no), element("td", p.ping), element("td", p.name, "name"), element("td", p.ip));
    row.append(element("td", [p.alliedSkin, p.axisSkin].filter((x) => x).join(" / ")));
    if (state.role === "admin") {
      const actions = element("td", null, "actions admin");
      const who = { no: p.no, name: p.name, ip: p.ip };
      actions.append(
        button("Kick", () => act("/api/players/kick", who, "Kick " + p.name + "?")),
        button("Ban", () => {
          const days = $("ban-days").value.trim();
          const ban = Object.assign({ days: days === "" ? null : Number(days), reason: $("ban-reason").value }, who);
          act("/api/players/ban", ban, "Ban " + p.name + (days === "" ? " for ever?" : " for " + days + " days?"));
        })
      );
      row.append(actions);
    }
    body.append(row);
  }
}

function startLive() {
  stopLive();
  const scheme = location.protocol === "https:" ? "wss://" : "ws://";
  try {
    state.live = new WebSocket(scheme + location.host + "/api/live");
  } catch (e) {
    state.live = null;
  }
  if (!state.live) {
    startPolling();
    return;
  }
  state.live.addEventListener("message", (event) => {
    const s = JSON.parse(event.data);
    if (s.type === "state") render(s);
  });
  state.live.addEventListener("close", () => {
    state.live = null;
    // A proxy without WebSocket support, or a session that ended: the poll tells which.
    if (!$("app").hidden) startPolling();
  });
}

// Once a second when the live socket cannot be had.
function startPolling() {
  if (state.poll) return;
  const tick = async () => {
    const answer = await api("GET", "/api/state");
    if (answer.status === 200) render(answer.data);
    else stopLive();
  };
  tick();
  state.poll = setInterval(tick, 1000);
}

function stopLive() {
  if (state.live) {
    const live = state.live;
    state.live = null;
    live.close();
  }
  if (state.poll) clearInterval(state.poll);
  state.poll = 0;
}

// ---- Record lists -----------------------------------------------------------

function selectList(list) {
  state.list = list;
  if (!columns[list].includes(state.sort)) state.sort = "ip";
  for (const tab of document.querySelectorAll(".tabs button")) {
    tab.classList.toggle("current", tab.dataset.list === list);
  }
  const head = $("records").tHead.rows[0];
  head.replaceChildren();
  for (const key of columns[list]) {
    const th = element("th", headers[key], "sortable");
    if (key === state.sort) th.classList.add(state.descending ? "sorted-desc" : "sorted-asc");
    th.addEventListener("click", () => {
      state.descending = key === state.sort ? !state.descending : false;
      state.sort = key;
      selectList(state.list);
    });
    head.append(th);
  }
  if (state.role === "admin") head.append(element("th", null, "admin"));
  loadList();
}

for (const tab of document.querySelectorAll(".tabs button")) {
  tab.addEventListener("click", () => selectList(tab.dataset.list));
}

let searchTimer = 0;
$("list-search").addEventListener("input", () => {
  clearTimeout(searchTimer);
  searchTimer = setTimeout(loadList, 250);
});

async function loadList() {
  const list = state.list;
  const query = new URLSearchParams({
    search: $("list-search").value,
    sort: state.sort,
    order: state.descending ? "desc" : "asc",
    limit: "500",
  });
  const answer = await api("GET", "/api/lists/" + list + "?" + query.toString());
  if (answer.status !== 200 || list !== state.list) return;
  const body = $("records").tBodies[0];
  body.replaceChildren();
  const shown = answer.data.records.length;
  $("list-matched").textContent =
    answer.data.matched + " of " + answer.data.total + (shown < answer.data.matched ? ", first " + shown + " shown" : "");
  for (const record of answer.data.records) {
    const row = document.createElement("tr");
    for (const key of columns[list]) row.append(element("td", record[key], key === "name" ? "name" : ""));
    if (state.role === "admin") {
      const actions = element("td", null, "actions admin");
      for (const [caption, action] of rowActions[list]) {
        actions.append(
          button(caption, () =>
            act("/api/lists/" + list + "/" + action, { record }, caption + " " + record.ip + " (" + record.name + ")?")
          )
        );
      }
      row.append(actions);
    }
    body.append(row);
  }
}

$("add-ban").addEventListener("submit", async (event) => {
  event.preventDefault();
  const days = $("add-days").value.trim();
  const ok = await act("/api/bans", {
    ip: $("add-ip").value.trim(),
    name: $("add-name").value,
    reason: $("add-reason").value,
    days: days === "" ? null : Number(days),
  });
  if (ok) for (const id of ["add-ip", "add-name", "add-reason", "add-days"]) $(id).value = "";
});

// ---- Actions, log and console -----------------------------------------------

function showResult(answer) {
  const result = $("action-result");
  result.hidden = false;
  const told = (answer.data.messages || []).map((m) => m.title + " " + m.text);
  result.classList.toggle("failed", answer.status >= 400 || told.length > 0);
  result.textContent = [answer.data.result || answer.data.error || "HTTP " + answer.status].concat(told).join(" - ");
}

async function act(path, body, question) {
  if (question && !confirm(question)) return false;
  const answer = await api("POST", path, body);
  showResult(answer);
  return answer.status < 400;
}

$("start").addEventListener("click", () => act("/api/session/start"));
$("stop").addEventListener("click", () => act("/api/session/stop"));
$("scan").addEventListener("click", () => act("/api/session/scan"));

async function loadLog() {
  const answer = await api("GET", "/api/log?lines=200");
  if (answer.status !== 200) return;
  const log = $("log");
  log.textContent = answer.data.lines.join("\n");
  log.scrollTop = log.scrollHeight;
}

async function loadConsole() {
  const answer = await api("GET", "/api/console");
  if (answer.status !== 200) return;
  const out = $("console-output");
  out.textContent = answer.data.entries.map((e) => (e.command ? "> " + e.command + "\n" : "") + e.text).join("\n");
  out.scrollTop = out.scrollHeight;
}

$("console-form").addEventListener("submit", async (event) => {
  event.preventDefault();
  const input = $("console-input");
  const command = input.value.trim();
  if (!command) return;
  input.disabled = true;
  const answer = await api("POST", "/api/console", { command });
  input.disabled = false;
  if (answer.status === 200) input.value = "";
  else showResult(answer);
  loadConsole();
  input.focus();
});

// ---- Settings ---------------------------------------------------------------

// The window's tabs; each value is sent when it is changed and left, as the
// window takes it, and the form comes back as the monitor then holds it.
async function loadSettings() {
  // Not under the admin's fingers: the box he is typing in is sent when he leaves it.
  const typing = document.activeElement;
  if (typing && typing.closest("#settings-page") && typing.type !== "checkbox" && typing.type !== "radio") return;
  const answer = await api("GET", "/api/settings");
  if (answer.status === 200) renderSettings(answer.data);
}

function renderSettings(form) {
  state.settings = form;
  const tabs = $("settings-tabs");
  tabs.replaceChildren();
  form.tabs.forEach((tab, i) => {
    const b = element("button", tab.title, i === state.settingsTab ? "current" : "");
    b.type = "button";
    b.addEventListener("click", () => {
      state.settingsTab = i;
      renderSettings(state.settings);
    });
    tabs.append(b);
  });
  $("settings-state").textContent = form.protected ? "rconskelvar.ini is write-protected" : "";
  const page = $("settings-page");
  page.replaceChildren();
  for (const line of form.tabs[state.settingsTab].lines) {
    const row = element("div", null, "setting-line");
    if (line.caption) row.append(element("span", line.caption, "setting-caption"));
    for (const field of line.fields) row.append(settingField(field, form.protected));
    page.append(row);
  }
}

function settingField(field, locked) {
  const label = element("label", null, "setting " + field.form);
  label.title = field.control;
  const input = document.createElement("input");
  input.id = "setting-" + field.control;
  input.disabled = locked || !field.enabled;
  if (field.form === "text") {
    input.type = field.secret ? "password" : "text";
    input.autocomplete = "off";
    input.value = field.value;
    input.size = Math.max(4, Math.min(60, field.value.length + 2));
    input.addEventListener("change", () => saveSetting(field.control, input.value));
    label.append(input);
    if (field.caption) label.append(element("span", field.caption));
  } else {
    input.type = field.form === "check" ? "checkbox" : "radio";
    if (field.form === "option") input.name = "group-" + field.group;
    input.checked = field.value;
    input.addEventListener("change", () => saveSetting(field.control, input.checked));
    label.append(input, element("span", field.caption || field.control));
  }
  return label;
}

async function saveSetting(control, value) {
  const values = {};
  values[control] = value;
  const answer = await api("POST", "/api/settings", { values });
  showResult(answer);
  if (answer.data.settings) renderSettings(answer.data.settings);
  else loadSettings();
}

// ---- Start ------------------------------------------------------------------

(async () => {
  const answer = await api("GET", "/api/session");
  if (answer.status === 200) showApp(answer.data);
  else showLogin();
})();
