// The viewer's page: polls the cameras' state, shows each acquiring
// camera's images as they come through one streamed answer, and sends the
// user's settings and actions. Everything comes from the tool
// itself.
"use strict";

const cards = new Map(); // camera id -> the camera's elements
// What the page shows for a reading the library does not give.
const NONE = "—";

function text(value, digits) {
  if (value === null || value === undefined) return NONE;
  return typeof value === "number" && digits !== undefined ? value.toFixed(digits) : String(value);
}

function showMessage(card, message, refused) {
  card.message.textContent = message;
  card.message.className = "message " + (refused ? "refused" : "done");
}

async function post(card, path, body) {
  try {
    const response = await fetch(`/api/cameras/${card.id}/${path}`, {
      method: "POST",
      headers: { "Content-Type": "application/x-www-form-urlencoded" },
      body: body ? new URLSearchParams(body) : "",
    });
    const answer = await response.json();
    if (response.ok) {
      showMessage(card, body ? `${body.name} set to ${body.value}` : `${path}: done`, false);
    } else {
      showMessage(card, answer.error, true);
    }
  } catch (error) {
    showMessage(card, `the viewer did not answer: ${error}`, true);
  }
  refreshState();
}

// Each camera's live image comes as one streamed answer, a part per new
// image, read here part by part. A part that comes while the previous one
// is still being decoded takes the place of any other waiting one, so the
// page shows the newest image and never falls behind.
const BOUNDARY = new TextEncoder().encode("\r\n--orvex-frame\r\n");
const BLANK_LINE = new TextEncoder().encode("\r\n\r\n");

function find(bytes, wanted, from) {
  outer: for (let i = from; i + wanted.length <= bytes.length; i++) {
    for (let j = 0; j < wanted.length; j++) {
      if (bytes[i + j] !== wanted[j]) continue outer;
    }
    return i;
  }
  return -1;
}

function joined(a, b) {
  const both = new Uint8Array(a.length + b.length);
  both.set(a, 0);
  both.set(b, a.length);
  return both;
}

function show(card, url) {
  if (card.decoding) {
    if (card.waiting) URL.revokeObjectURL(card.waiting);
    card.waiting = url;
    return;
  }
  card.decoding = true;
  card.img.src = url;
}

function decoded(card) {
  if (card.shown && card.shown !== card.img.src) URL.revokeObjectURL(card.shown);
  card.shown = card.img.src;
  card.decoding = false;
  if (card.waiting) {
    const next = card.waiting;
    card.waiting = null;
    show(card, next);
  }
}

// The parts of one answer until it ends: each has its headers, then as
// many bytes as its Content-Length says, then the boundary.
async function readParts(card, reader) {
  let bytes = new Uint8Array(0);
  let at = 0; // where the next part's headers start
  let opened = false;
  for (;;) {
    const { value, done } = await reader.read();
    if (done) return;
    bytes = joined(bytes.subarray(at), value);
    at = 0;
    if (!opened) {
      const first = find(bytes, BOUNDARY.subarray(2), 0);
      if (first < 0) continue;
      at = first + BOUNDARY.length - 2;
      opened = true;
    }
    for (;;) {
      const end = find(bytes, BLANK_LINE, at);
      if (end < 0) break;
      const headers = new TextDecoder().decode(bytes.subarray(at, end));
      const length = Number((/content-length:\s*(\d+)/i.exec(headers) || [])[1]);
      const type = (/content-type:\s*([^\r\n]+)/i.exec(headers) || [])[1] || "image/jpeg";
      const start = end + BLANK_LINE.length;
      if (!Number.isFinite(length)) throw new Error("a part without its length");
      if (bytes.length < start + length + BOUNDARY.length) break;
      show(card, URL.createObjectURL(new Blob([bytes.subarray(start, start + length)], { type })));
      at = start + length + BOUNDARY.length;
    }
  }
}

// Watches the camera while it acquires: the answer ends when it stops,
// restarts or leaves, and a new one is asked for while the state says it
// acquires. A refused answer (the camera no longer acquires, or the viewer
// is busy) is not asked again until the next state says it acquires.
async function watch(card) {
  if (card.watching || !card.acquiring) return;
  card.watching = true;
  let refused = false;
  try {
    const response = await fetch(`/api/cameras/${card.id}/stream`, { cache: "no-store" });
    refused = !response.ok;
    if (response.ok) await readParts(card, response.body.getReader());
  } catch (error) {
    // The viewer stopped or the answer broke off: asked anew below.
  }
  card.watching = false;
  if (card.acquiring && !refused) setTimeout(() => watch(card), 100);
}

function makeCard(camera) {
  const node = document.getElementById("camera-template").content.firstElementChild.cloneNode(true);
  node.id = `camera-${camera.id}`;
  const card = {
    id: camera.id,
    node,
    img: node.querySelector(".frame"),
    noImage: node.querySelector(".no-image"),
    message: node.querySelector(".message"),
    acquiring: false,
    watching: false,
    decoding: false,
    waiting: null, // a part's address, to show once the one shown is decoded
    shown: null,
    framesDrawn: 0,
  };
  const stack = camera.stack === "bcam" ? "BCAM" : "FlyCapture";
  node.querySelector(".title").textContent =
    `Camera ${camera.port} (${stack}): ${camera.model} (GUID ${camera.guid})`;
  node.querySelector(".full").href = `/api/cameras/${camera.id}/frame.png?full=1`;
  card.img.addEventListener("load", () => {
    card.framesDrawn += 1;
    card.img.dataset.frames = String(card.framesDrawn);
    decoded(card);
  });
  // A part that does not decode: the next one is shown.
  card.img.addEventListener("error", () => decoded(card));
  node.querySelector(".start").addEventListener("click", () => post(card, "start"));
  node.querySelector(".stop").addEventListener("click", () => post(card, "stop"));
  node.querySelector(".trigger").addEventListener("click", () => post(card, "trigger"));
  for (const input of node.querySelectorAll(".settings input")) {
    input.addEventListener("change", () => post(card, "settings", { name: input.name, value: input.value }));
  }
  node.querySelector(".settings").addEventListener("submit", (event) => event.preventDefault());
  document.getElementById("cameras").appendChild(node);
  cards.set(camera.id, card);
  return card;
}

function fillCard(card, camera) {
  const field = (name, value) => { card.node.querySelector("." + name).textContent = value; };
  field("index", text(camera.index));
  field("swDate", camera.swDate === null || camera.swDate === undefined ? NONE : `${text(camera.swDate, 3)} ms`);
  field("hwDate", camera.hwDate === null || camera.hwDate === undefined ? NONE : `${text(camera.hwDate, 3)} ms`);
  field("fps", text(camera.fps, 1));
  field("drops", text(camera.drops));
  // Each stack's own units: the values go back to the camera in them.
  for (const name of ["shutter", "gain"]) {
    const unit = camera[`${name}Unit`];
    if (unit === undefined) continue; // a camera that left
    field(`${name}-unit`, unit);
    const range = camera[`${name}Range`];
    card.node.querySelector(`input[name="${name}"]`).title = range ? `${range[0]} to ${range[1]} ${unit}` : "";
  }
  card.acquiring = camera.present && camera.acquiring;
  card.noImage.hidden = card.acquiring;
  card.img.hidden = !card.acquiring;
  if (card.acquiring) watch(card);
  // Fill the inputs the user is not editing with what the camera says.
  const values = {
    shutter: camera.shutter, gain: camera.gain, "frame-rate": camera.frameRate,
    roi: camera.roi ? camera.roi.join(",") : null, packet: camera.packet, trigger: camera.trigger,
  };
  for (const [name, value] of Object.entries(values)) {
    const input = card.node.querySelector(`input[name="${name}"]`);
    if (input && document.activeElement !== input && value !== null && value !== undefined) {
      input.value = String(value);
    }
  }
  card.node.querySelector(".trigger").disabled = camera.softwareTrigger !== true;
}

// One panel of the sync plot: each slave's series over the run's seconds.
function drawPanel(canvas, series, x1) {
  const context = canvas.getContext("2d");
  context.clearRect(0, 0, canvas.width, canvas.height);
  const points = series.flatMap((s) => s.points);
  canvas.dataset.points = String(points.length);
  context.fillStyle = "#555";
  context.font = "12px sans-serif";
  context.fillText(canvas.dataset.title, 60, 14);
  if (points.length === 0) {
    context.fillText("no data yet (a slave is plotted once corrected)", 60, canvas.height / 2);
    return;
  }
  const ys = points.map((p) => p[1]);
  let [y0, y1] = [Math.min(...ys), Math.max(...ys)];
  if (y0 === y1) [y0, y1] = [y0 - 1, y1 + 1];
  const [left, right, top, bottom] = [60, 10, 22, 20];
  const sx = (x) => left + (x / (x1 || 1)) * (canvas.width - left - right);
  const sy = (y) => top + (1 - (y - y0) / (y1 - y0)) * (canvas.height - top - bottom);
  context.strokeStyle = "#ccc";
  context.strokeRect(left, top, canvas.width - left - right, canvas.height - top - bottom);
  context.fillStyle = "#555";
  context.textAlign = "right";
  context.fillText(String(Math.round(y1)), left - 4, top + 10);
  context.fillText(String(Math.round(y0)), left - 4, canvas.height - bottom);
  context.textAlign = "center";
  context.fillText(`${x1.toFixed(0)} s`, canvas.width - right - 10, canvas.height - 5);
  context.textAlign = "left";
  const colours = ["#2563eb", "#dc2626", "#059669", "#d97706"];
  series.forEach((s, i) => {
    context.strokeStyle = colours[i % colours.length];
    context.beginPath();
    s.points.forEach((p, j) => (j === 0 ? context.moveTo(sx(p[0]), sy(p[1])) : context.lineTo(sx(p[0]), sy(p[1]))));
    context.stroke();
    context.fillStyle = context.strokeStyle;
    context.fillText(s.name, canvas.width - 150, top + 14 + 14 * i);
  });
}

function signed(value) {
  return value === null || value === undefined ? NONE : (value > 0 ? "+" : "") + String(value);
}

function drawSync(sync) {
  const state = document.getElementById("sync-state");
  document.getElementById("sync-stop").disabled = !sync || sync.state === "stopped";
  document.getElementById("sync-start").disabled = Boolean(sync) && sync.state !== "stopped";
  document.getElementById("sync-plots").hidden = !sync;
  if (!sync) {
    state.textContent = "not running";
    state.dataset.state = "none";
    return;
  }
  state.dataset.state = sync.state;
  const after = sync.synchronisedAfter === null ? "" : ` (synchronised after ${sync.synchronisedAfter.toFixed(1)} s)`;
  state.textContent = `${sync.state}, master ${sync.master} (camera ${sync.masterPort}), ` +
    `${sync.seconds.toFixed(0)} s${after}`;
  const failures = document.getElementById("sync-failures");
  failures.textContent = sync.failures > 0 ? `${sync.failures} failed update(s); last: ${sync.lastFailure}` : "";
  document.getElementById("sync-slaves").textContent = sync.slaves.length === 0
    ? `no camera on another bus (${sync.masterBusCameras} on the master's bus)`
    : sync.slaves.map((s) => `camera ${s.port} (${s.guid}): ` + (s.corrected
      ? `drift ${signed(s.drift)} ticks/s, offset ${s.offset} ticks, disagreement ${signed(s.disagreement)} ticks`
      : `not corrected yet, disagreement ${signed(s.disagreement)} ticks`)).join("\n");
  const named = (key) => sync.slaves.map((s) => ({ name: `camera ${s.port}`, points: s[key] }));
  drawPanel(document.getElementById("sync-disagreement"), named("disagreements"), sync.seconds);
  drawPanel(document.getElementById("sync-drift"), named("drifts"), sync.seconds);
}

async function postSync(path, body) {
  const message = document.getElementById("sync-message");
  try {
    const response = await fetch(`/api/sync/${path}`, {
      method: "POST",
      headers: { "Content-Type": "application/x-www-form-urlencoded" },
      body: body ? new URLSearchParams(body) : "",
    });
    const answer = await response.json();
    message.textContent = response.ok ? `${path}: done` : answer.error;
    message.className = "message " + (response.ok ? "done" : "refused");
  } catch (error) {
    message.textContent = `the viewer did not answer: ${error}`;
    message.className = "message refused";
  }
  refreshState();
}

document.getElementById("sync-form").addEventListener("submit", (event) => {
  event.preventDefault();
  postSync("start", { master: document.getElementById("sync-master").value });
});
document.getElementById("sync-stop").addEventListener("click", () => postSync("stop"));

let refreshing = false;
async function refreshState() {
  if (refreshing) return;
  refreshing = true;
  try {
    const response = await fetch("/api/state");
    const state = await response.json();
    for (const camera of state.cameras) {
      fillCard(cards.get(camera.id) || makeCard(camera), camera);
    }
    document.getElementById("sync").hidden = !state.syncAvailable;
    drawSync(state.sync);
    document.getElementById("status").textContent = `${state.cameras.length} camera(s)`;
  } catch (error) {
    document.getElementById("status").textContent = `the viewer does not answer (${error})`;
  } finally {
    refreshing = false;
  }
}

refreshState();
setInterval(refreshState, 500);
