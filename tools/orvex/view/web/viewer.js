// The viewer's page: polls the cameras' state, reloads each camera's image
// once the previous one is drawn and the camera may have a new one, and
// sends the user's settings and actions. Everything comes from the tool
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

function nextFrame(card) {
  if (!card.acquiring) {
    card.loading = false;
    return;
  }
  card.loading = true;
  card.requestedAt = performance.now();
  card.img.src = `/api/cameras/${card.id}/frame?t=${Date.now()}`;
}

// The next image on the next animation frame, but not before the camera can
// have made one: asking sooner only brings the same image again. A little
// under the camera's period, so that no image is skipped for it; at most
// 100 ms, so that a slow or triggered camera's next image shows soon.
function frameDrawn(card) {
  const period = card.fps > 0 ? Math.min(900 / card.fps, 100) : 0;
  const wait = Math.max(0, card.requestedAt + period - performance.now());
  setTimeout(() => requestAnimationFrame(() => nextFrame(card)), wait);
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
    loading: false,
    framesDrawn: 0,
    fps: 0,
    requestedAt: 0,
  };
  const stack = camera.stack === "bcam" ? "BCAM" : "FlyCapture";
  node.querySelector(".title").textContent =
    `Camera ${camera.port} (${stack}): ${camera.model} (GUID ${camera.guid})`;
  node.querySelector(".full").href = `/api/cameras/${camera.id}/frame.png?full=1`;
  card.img.addEventListener("load", () => {
    card.framesDrawn += 1;
    card.img.dataset.frames = String(card.framesDrawn);
    frameDrawn(card);
  });
  // No image yet (just started): try again shortly.
  card.img.addEventListener("error", () => setTimeout(() => nextFrame(card), 100));
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
  const wasAcquiring = card.acquiring;
  card.acquiring = camera.present && camera.acquiring;
  card.fps = card.acquiring && typeof camera.fps === "number" ? camera.fps : 0;
  card.noImage.hidden = card.acquiring;
  card.img.hidden = !card.acquiring;
  if (card.acquiring && !wasAcquiring && !card.loading) nextFrame(card);
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
