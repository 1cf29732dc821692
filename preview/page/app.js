// The preview page: builds the panel from the controls the plug-in declared (as the server
// reports them), sends every change to the server, and shows the newest picture it announces.
"use strict";

const token = document.body.dataset.token;
const $ = (id) => document.getElementById(id);

let state = null;
let lastSeq = 0;       // the newest preview seq this page asked for
let shownSeq = 0;      // the seq of the picture shown
let inflight = 0;      // a draft asked for and not yet answered
let pendingDraft = null;
const seqWaiters = []; // [seq, resolve]: resolved once a picture at least that new arrives
const elements = new Map(); // control index -> its element
let playing = false;

// ---- Talking to the server ----

async function api(path, body) {
  const options = { headers: { "X-Varnex-Token": token } };
  if (body !== undefined) {
    options.method = "POST";
    options.headers["Content-Type"] = "application/json";
    options.body = JSON.stringify(body);
  }
  const response = await fetch(path, options);
  let answer = {};
  try { answer = await response.json(); } catch (e) { /* not JSON */ }
  if (!response.ok) throw new Error(answer.error || response.statusText);
  return answer;
}

function setStatus(text, error) {
  const status = $("status");
  status.textContent = text;
  status.classList.toggle("error", !!error);
}

function fail(error) {
  setStatus(error.message || String(error), true);
}

// ---- Pictures ----

function askPicture(draft) {
  const seq = ++lastSeq;
  if (draft) inflight = seq;
  api("/api/preview", { draft, view: $("view").value, seq }).catch((e) => {
    if (inflight === seq) inflight = 0;
    fail(e);
  });
  return seq;
}

// Drafts while something is dragged: one at a time, the newest state next. A full render goes
// at once; the server drops whatever it supersedes.
function requestRender(draft) {
  if (draft && inflight) {
    pendingDraft = true;
    return;
  }
  if (!draft) pendingDraft = null;
  return askPicture(draft);
}

function pictureArrived(seq) {
  if (inflight && seq >= inflight) {
    inflight = 0;
    if (pendingDraft) {
      pendingDraft = null;
      askPicture(true);
    }
  }
  for (let i = seqWaiters.length - 1; i >= 0; --i) {
    if (seq >= seqWaiters[i][0]) {
      seqWaiters[i][1]();
      seqWaiters.splice(i, 1);
    }
  }
}

function waitForPicture(seq) {
  if (shownSeq >= seq) return Promise.resolve();
  return new Promise((resolve) => seqWaiters.push([seq, resolve]));
}

async function showPicture(event) {
  if (event.seq <= shownSeq) return;
  const response = await fetch(`/api/image/${event.seq}`, { headers: { "X-Varnex-Token": token } });
  // A newer picture came meanwhile: that one is shown instead.
  if (!response.ok || event.seq <= shownSeq) return;
  const bitmap = await createImageBitmap(await response.blob());
  if (event.seq <= shownSeq) return;
  shownSeq = event.seq;
  const canvas = $("viewer");
  canvas.width = bitmap.width;
  canvas.height = bitmap.height;
  canvas.getContext("2d").drawImage(bitmap, 0, 0);
  canvas.dataset.seq = String(event.seq);
  canvas.dataset.draft = event.draft ? "1" : "0";
  canvas.dataset.view = event.view;
  canvas.dataset.frame = String(event.frame);
  $("info").textContent = `${Math.round(event.ms)} ms · ${event.width} × ${event.height}` +
    (event.draft ? " (draft)" : "");
  layout();
  if (!event.draft) document.body.dataset.ready = "1";
  pictureArrived(event.seq);
}

// The picture at the frame's full size times the zoom, or as large as the stage holds.
function layout() {
  if (!state) return;
  const canvas = $("viewer");
  const stage = $("stage");
  const zoom = $("zoom").value;
  const full = canvas.dataset.view === "result" || !canvas.dataset.view
    ? [state.width, state.height] : [canvas.width, canvas.height];
  stage.classList.toggle("fit", zoom === "fit");
  let scale;
  if (zoom === "fit") {
    scale = Math.min(stage.clientWidth / full[0], stage.clientHeight / full[1]);
    if (!isFinite(scale) || scale <= 0) scale = 1;
  } else {
    scale = Number(zoom) / 100;
  }
  canvas.style.width = `${Math.round(full[0] * scale)}px`;
  canvas.style.height = `${Math.round(full[1] * scale)}px`;
}

// ---- Changing controls ----

// Values waiting to be sent, by control; one request at a time, so the server sees them in order.
const queued = new Map();
let posting = false;

function sendControl(name, value, draft) {
  const earlier = queued.get(name);
  queued.set(name, { value, draft: draft && (!earlier || earlier.draft) });
  if (!posting) pump();
}

async function pump() {
  posting = true;
  while (queued.size) {
    const [name, change] = queued.entries().next().value;
    queued.delete(name);
    try {
      applyState(await api("/api/control", { name, value: change.value }));
      setStatus("");
    } catch (e) {
      fail(e);
      applyState(await api("/api/state").catch(() => state));
    }
    // While a drag goes on, drafts follow it (one at a time); the full render waits for the end.
    if (change.draft || !queued.size) requestRender(change.draft);
  }
  posting = false;
}

async function act(path, body, render = true) {
  try {
    const answer = await api(path, body);
    if (answer.open_url) window.open(answer.open_url, "_blank", "noopener");
    applyState(answer);
    if (render) requestRender(false);
    return answer;
  } catch (e) {
    fail(e);
  }
}

function stepOf(c) {
  if (c.kind === "angle") return 0.1;
  return c.precision > 0 ? Math.pow(10, -c.precision) : 1;
}

function formatValue(c, v) {
  return c.precision > 0 ? Number(v).toFixed(c.precision) : String(Math.round(v * 10) / 10);
}

// ---- Building and updating the panel ----

// A panel element of control `c`, marked with what the tests and the updates look it up by.
function controlElement(c, className) {
  const element = document.createElement("div");
  element.className = className;
  element.dataset.index = String(c.index);
  element.dataset.identifier = c.identifier;
  element.dataset.kind = c.kind;
  return element;
}

function buildControl(c) {
  const row = controlElement(c, "control");
  const key = document.createElement("span");
  row.appendChild(key);
  if (c.animatable) {
    const k = document.createElement("button");
    k.type = "button";
    k.className = "keyframe";
    k.title = "Add or remove a keyframe at this frame";
    k.textContent = "\u25C6";
    k.addEventListener("click", () => act("/api/keyframe", { name: c.identifier, frame: state.frame }));
    key.appendChild(k);
  }
  const label = document.createElement("span");
  label.className = "label";
  row.appendChild(label);
  const inputs = document.createElement("span");
  inputs.className = "inputs";
  row.appendChild(inputs);
  const build = inputBuilders[c.kind];
  if (build) build(c, inputs, row);
  return row;
}

// The inputs of each kind of control, by the kind the state names.
const inputBuilders = {
  layer(c, inputs) {
    const name = document.createElement("span");
    name.className = "layer-name";
    inputs.appendChild(name);
  },
  slider(c, inputs) {
    const range = document.createElement("input");
    range.type = "range";
    const lo = c.slider_min ?? c.min ?? -360;
    const hi = c.slider_max ?? c.max ?? 360;
    range.min = String(lo);
    range.max = String(hi);
    range.step = String(stepOf(c));
    const number = document.createElement("input");
    number.type = "number";
    number.step = String(stepOf(c));
    if (c.min !== null) number.min = String(c.min);
    if (c.max !== null) number.max = String(c.max);
    range.addEventListener("input", () => {
      number.value = formatValue(c, range.value);
      sendControl(c.identifier, Number(range.value), true);
    });
    range.addEventListener("change", () => sendControl(c.identifier, Number(range.value), false));
    number.addEventListener("change", () => {
      if (number.value !== "") sendControl(c.identifier, Number(number.value), false);
    });
    inputs.append(range, number);
    if (c.kind === "angle") inputs.appendChild(buildDial(c, number));
    if (c.unit) {
      const unit = document.createElement("span");
      unit.className = "unit";
      unit.textContent = c.unit === "degrees" ? "\u00B0" : c.unit;
      inputs.appendChild(unit);
    }
  },
  angle(c, inputs) {
    inputBuilders.slider(c, inputs);
  },
  popup(c, inputs) {
    const select = document.createElement("select");
    c.choices.forEach((text, i) => {
      const option = document.createElement("option");
      option.value = String(c.choice_values[i]);
      option.textContent = text;
      select.appendChild(option);
    });
    select.addEventListener("change", () => sendControl(c.identifier, Number(select.value), false));
    inputs.appendChild(select);
  },
  checkbox(c, inputs) {
    const box = document.createElement("input");
    box.type = "checkbox";
    box.addEventListener("change", () => sendControl(c.identifier, box.checked, false));
    inputs.appendChild(box);
  },
  button(c, inputs, row) {
    row.classList.add("button-control");
    const button = document.createElement("button");
    button.type = "button";
    button.addEventListener("click", () => act("/api/button", { name: c.identifier }));
    inputs.appendChild(button);
  },
  point(c, inputs) {
    for (let axis = 0; axis < 2; ++axis) {
      const number = document.createElement("input");
      number.type = "number";
      number.step = "0.1";
      number.dataset.axis = String(axis);
      number.addEventListener("change", () => {
        const [x, y] = inputs.querySelectorAll("input");
        sendControl(c.identifier, [Number(x.value), Number(y.value)], false);
      });
      inputs.appendChild(number);
    }
  },
};

// An angle's dial: 0 points up and angles turn clockwise, as the effect's rotation does; dragging
// it sets the angle within the turn the value is in.
function buildDial(c, number) {
  const svgNS = "http://www.w3.org/2000/svg";
  const dial = document.createElementNS(svgNS, "svg");
  dial.setAttribute("class", "dial");
  dial.setAttribute("viewBox", "-10 -10 20 20");
  const circle = document.createElementNS(svgNS, "circle");
  circle.setAttribute("r", "9");
  const hand = document.createElementNS(svgNS, "line");
  hand.setAttribute("x1", "0");
  hand.setAttribute("y1", "0");
  hand.setAttribute("x2", "0");
  hand.setAttribute("y2", "-8");
  dial.append(circle, hand);
  let dragging = false;
  const angleAt = (event) => {
    const box = dial.getBoundingClientRect();
    const x = event.clientX - (box.left + box.width / 2);
    const y = event.clientY - (box.top + box.height / 2);
    const degrees = Math.round((Math.atan2(x, -y) * 180) / Math.PI);
    const turns = Math.round((Number(number.value) - degrees) / 360);
    return turns * 360 + degrees;
  };
  dial.addEventListener("pointerdown", (event) => {
    if (dial.classList.contains("off")) return;
    dragging = true;
    dial.setPointerCapture(event.pointerId);
  });
  dial.addEventListener("pointermove", (event) => {
    if (!dragging) return;
    const value = angleAt(event);
    number.value = String(value);
    setDial(dial, value);
    sendControl(c.identifier, value, true);
  });
  const end = (event) => {
    if (!dragging) return;
    dragging = false;
    sendControl(c.identifier, angleAt(event), false);
  };
  dial.addEventListener("pointerup", end);
  dial.addEventListener("pointercancel", end);
  return dial;
}

function setDial(dial, degrees) {
  dial.querySelector("line").setAttribute("transform", `rotate(${degrees})`);
}

function buildGroup(c) {
  const group = controlElement(c, "control group");
  if (!c.open) group.classList.add("closed");
  const title = document.createElement("div");
  title.className = "group-title";
  const label = document.createElement("span");
  label.className = "label";
  title.appendChild(label);
  title.addEventListener("click", () => group.classList.toggle("closed"));
  const body = document.createElement("div");
  body.className = "group-body";
  group.append(title, body);
  return group;
}

function buildPanel() {
  const panel = $("panel");
  panel.textContent = "";
  elements.clear();
  const parents = [panel];
  for (const c of state.controls) {
    let element;
    if (c.kind === "group_start") {
      element = buildGroup(c);
      parents[parents.length - 1].appendChild(element);
      parents.push(element.querySelector(".group-body"));
    } else if (c.kind === "group_end") {
      element = document.createElement("div");
      element.className = "control group-end";
      element.dataset.index = String(c.index);
      element.dataset.identifier = c.identifier;
      element.style.display = "none";
      parents[parents.length - 1].appendChild(element);
      if (parents.length > 1) parents.pop();
      elements.set(c.index, element);
      continue;
    } else {
      element = buildControl(c);
      parents[parents.length - 1].appendChild(element);
    }
    elements.set(c.index, element);
  }
}

function updateControl(c) {
  const row = elements.get(c.index);
  if (!row || c.kind === "group_end") return;
  row.style.display = c.visible ? "" : "none";
  row.classList.toggle("disabled", !c.enabled);
  const label = row.querySelector(".label");
  label.textContent = c.name;
  label.title = c.name;
  if (c.kind === "group_start") return;
  const own = row.querySelectorAll(":scope > .inputs input, :scope > .inputs select, :scope > .inputs button");
  own.forEach((input) => { input.disabled = !c.enabled; });
  const key = row.querySelector("button.keyframe");
  if (key) {
    key.disabled = !c.enabled;
    key.classList.toggle("on", c.keyframes.includes(state.frame));
    key.classList.toggle("animated", c.animated);
  }
  const active = document.activeElement;
  if (c.kind === "layer") {
    const path = c.identifier === "PARAM_MAP_LAYER" ? state.map : state.input;
    row.querySelector(".layer-name").textContent = path ? path.split("/").pop() : "None";
  } else if (c.kind === "slider" || c.kind === "angle") {
    const [range, number] = row.querySelectorAll(".inputs input");
    if (range !== active) range.value = String(c.value);
    if (number !== active) number.value = formatValue(c, c.value);
    const dial = row.querySelector(".dial");
    if (dial) {
      setDial(dial, c.value);
      dial.classList.toggle("off", !c.enabled);
    }
  } else if (c.kind === "popup") {
    const select = row.querySelector("select");
    if (select !== active) select.value = String(c.value);
  } else if (c.kind === "checkbox") {
    row.querySelector("input").checked = !!c.value;
  } else if (c.kind === "button") {
    row.querySelector(".inputs button").textContent = c.name;
  } else if (c.kind === "point") {
    const [x, y] = row.querySelectorAll(".inputs input");
    if (x !== active) x.value = String(c.value[0]);
    if (y !== active) y.value = String(c.value[1]);
  }
}

function applyState(next) {
  if (!next || !next.controls) return;
  const rebuild = !state || state.controls.length !== next.controls.length;
  state = next;
  if (rebuild) buildPanel();
  state.controls.forEach(updateControl);
  $("undo").disabled = !state.can_undo;
  $("redo").disabled = !state.can_redo;
  $("undo").title = state.can_undo ? `Undo ${state.undo_name} (Ctrl+Z)` : "Undo (Ctrl+Z)";
  $("redo").title = state.can_redo ? `Redo ${state.redo_name} (Ctrl+Shift+Z)` : "Redo (Ctrl+Shift+Z)";
  $("render").disabled = !state.output || state.rendering;
  $("view").querySelector('option[value="map"]').disabled = !state.has_map;
  const frame = $("frame");
  frame.min = String(state.first);
  frame.max = String(state.last);
  if (frame !== document.activeElement || playing) frame.value = String(state.frame);
  $("frame-number").textContent = String(state.frame);
  $("play").disabled = state.first === state.last;
  if (state.seq > lastSeq) lastSeq = state.seq;
}

// ---- Timeline ----

let frameBusy = false;
let frameWanted = null;

async function goToFrame(frame, draft) {
  frameWanted = { frame, draft };
  if (frameBusy) return;
  frameBusy = true;
  while (frameWanted) {
    const want = frameWanted;
    frameWanted = null;
    try {
      applyState(await api("/api/frame", { frame: want.frame }));
    } catch (e) {
      fail(e);
    }
    if (!frameWanted) requestRender(want.draft);
  }
  frameBusy = false;
}

async function play() {
  playing = true;
  $("play").textContent = "Stop";
  while (playing) {
    const started = performance.now();
    const next = state.frame >= state.last ? state.first : state.frame + 1;
    try {
      applyState(await api("/api/frame", { frame: next }));
    } catch (e) {
      fail(e);
      break;
    }
    await waitForPicture(requestRender(false));
    const wait = 1000 / state.fps - (performance.now() - started);
    if (wait > 0) await new Promise((r) => setTimeout(r, wait));
  }
  playing = false;
  $("play").textContent = "Play";
}

// ---- Wiring ----

function wire() {
  $("undo").addEventListener("click", () => act("/api/undo", {}));
  $("redo").addEventListener("click", () => act("/api/redo", {}));
  $("save").addEventListener("click", async () => {
    try {
      const answer = await api("/api/save", {});
      setStatus(`saved ${answer.path}`);
    } catch (e) {
      fail(e);
    }
  });
  $("render").addEventListener("click", async () => {
    try {
      await api("/api/render", {});
      $("render").disabled = true;
      setStatus("rendering…");
    } catch (e) {
      fail(e);
    }
  });
  $("view").addEventListener("change", () => requestRender(false));
  $("zoom").addEventListener("change", layout);
  window.addEventListener("resize", layout);
  $("frame").addEventListener("input", () => goToFrame(Number($("frame").value), true));
  $("frame").addEventListener("change", () => goToFrame(Number($("frame").value), false));
  $("play").addEventListener("click", () => {
    if (playing) playing = false;
    else play();
  });
  document.addEventListener("keydown", (event) => {
    const typing = event.target instanceof HTMLInputElement && event.target.type === "number";
    if (!(event.ctrlKey || event.metaKey) || typing) return;
    const key = event.key.toLowerCase();
    if (key === "z" && event.shiftKey) {
      event.preventDefault();
      act("/api/redo", {});
    } else if (key === "z") {
      event.preventDefault();
      act("/api/undo", {});
    } else if (key === "y") {
      event.preventDefault();
      act("/api/redo", {});
    }
  });

  const events = new EventSource(`/api/events?token=${encodeURIComponent(token)}`);
  // What the server announces while no stream is open is lost, the first picture included: on
  // every (re)connection the page catches up by asking for the state and a picture again.
  events.addEventListener("open", catchUp);
  events.addEventListener("frame", (e) => showPicture(JSON.parse(e.data)).catch(fail));
  events.addEventListener("failed", (e) => {
    const data = JSON.parse(e.data);
    fail(new Error(data.message));
    pictureArrived(data.seq);
  });
  events.addEventListener("state", (e) => {
    if (!posting && !frameBusy) applyState(JSON.parse(e.data));
  });
  events.addEventListener("progress", (e) => {
    const p = JSON.parse(e.data);
    setStatus(`rendering: frame ${p.frame} (${p.done}/${p.total})`);
  });
  events.addEventListener("rendered", async (e) => {
    const r = JSON.parse(e.data);
    setStatus(r.message, !r.ok);
    applyState(await api("/api/state").catch(() => state));
  });
}

async function catchUp() {
  try {
    applyState(await api("/api/state"));
    requestRender(false);
  } catch (e) {
    fail(e);
  }
}

wire();
