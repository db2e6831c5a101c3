// The viewer's page: polls the cameras' state, reloads each camera's image
// as soon as the previous one is drawn (the browser's pace), and sends the
// user's settings and actions. Everything comes from the tool itself.
"use strict";

const cards = new Map(); // port -> the camera's elements

function text(value, digits) {
  if (value === null || value === undefined) return "–";
  return typeof value === "number" && digits !== undefined ? value.toFixed(digits) : String(value);
}

function showMessage(card, message, refused) {
  card.message.textContent = message;
  card.message.className = "message " + (refused ? "refused" : "done");
}

async function post(card, path, body) {
  try {
    const response = await fetch(`/api/cameras/${card.port}/${path}`, {
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
  card.img.src = `/api/cameras/${card.port}/frame.png?t=${Date.now()}`;
}

function makeCard(camera) {
  const node = document.getElementById("camera-template").content.firstElementChild.cloneNode(true);
  node.id = `camera-${camera.port}`;
  const card = {
    port: camera.port,
    node,
    img: node.querySelector(".frame"),
    noImage: node.querySelector(".no-image"),
    message: node.querySelector(".message"),
    acquiring: false,
    loading: false,
    framesDrawn: 0,
  };
  node.querySelector(".title").textContent = `Camera ${camera.port}: ${camera.model} (GUID ${camera.guid})`;
  node.querySelector(".full").href = `/api/cameras/${camera.port}/frame.png?full=1`;
  card.img.addEventListener("load", () => {
    card.framesDrawn += 1;
    card.img.dataset.frames = String(card.framesDrawn);
    requestAnimationFrame(() => nextFrame(card));
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
  cards.set(camera.port, card);
  return card;
}

function fillCard(card, camera) {
  const field = (name, value) => { card.node.querySelector("." + name).textContent = value; };
  field("index", text(camera.index));
  field("swDate", camera.swDate === null || camera.swDate === undefined ? "–" : `${text(camera.swDate, 3)} ms`);
  field("hwDate", camera.hwDate === null || camera.hwDate === undefined ? "–" : `${text(camera.hwDate, 3)} ms`);
  field("fps", text(camera.fps, 1));
  field("drops", text(camera.drops));
  card.node.dataset.shutterMs = text(camera.shutterMs);
  const wasAcquiring = card.acquiring;
  card.acquiring = camera.present && camera.acquiring;
  card.noImage.hidden = card.acquiring;
  card.img.hidden = !card.acquiring;
  if (card.acquiring && !wasAcquiring && !card.loading) nextFrame(card);
  // Fill the inputs the user is not editing with what the camera says.
  const values = {
    shutter: camera.shutterMs, gain: camera.gainDb, "frame-rate": camera.frameRate,
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

function drawSync(sync) {
  const section = document.getElementById("sync");
  section.hidden = !sync;
  if (!sync) return;
  const canvas = document.getElementById("sync-plot");
  const context = canvas.getContext("2d");
  context.clearRect(0, 0, canvas.width, canvas.height);
  const series = sync.series || [];
  const points = series.flatMap((s) => s.points);
  if (points.length === 0) return;
  const xs = points.map((p) => p[0]);
  const ys = points.map((p) => p[1]);
  const [x0, x1] = [Math.min(...xs), Math.max(...xs) || 1];
  const [y0, y1] = [Math.min(...ys), Math.max(...ys)];
  const sx = (x) => 40 + ((x - x0) / (x1 - x0 || 1)) * (canvas.width - 50);
  const sy = (y) => canvas.height - 20 - ((y - y0) / (y1 - y0 || 1)) * (canvas.height - 40);
  const colours = ["#2563eb", "#dc2626", "#059669", "#d97706"];
  series.forEach((s, i) => {
    context.strokeStyle = colours[i % colours.length];
    context.beginPath();
    s.points.forEach((p, j) => (j === 0 ? context.moveTo(sx(p[0]), sy(p[1])) : context.lineTo(sx(p[0]), sy(p[1]))));
    context.stroke();
    context.fillStyle = context.strokeStyle;
    context.fillText(s.name, 45, 15 + 12 * i);
  });
}

let refreshing = false;
async function refreshState() {
  if (refreshing) return;
  refreshing = true;
  try {
    const response = await fetch("/api/state");
    const state = await response.json();
    for (const camera of state.cameras) {
      fillCard(cards.get(camera.port) || makeCard(camera), camera);
    }
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
