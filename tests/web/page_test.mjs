// The station page in headless chromium (puppeteer-core): the real daemon, a Yaesu and
// an Alfa SPID box emulated, the station with --http, on loopback and pseudo-terminals.
// Environment (set by CTest): ZEVA_DAEMON, ZEVA_BOXSIM, ZEVA_STATION, ZEVA_CTL, ZEVA_CHROMIUM,
// ZEVA_PYTHON3 (with PyEphem), ZEVA_SANITIZED=1 (no latency figures); optional
// ZEVA_SCREENSHOT (the page's picture), ZEVA_WEB_RESULTS (the latency table), ZEVA_WEB_LINKS
// and ZEVA_WEB_ROTCTLD_PORTS (two each, comma-separated: device names and rotctld ports
// instead of temporary ones; tests/web/screenshot.sh gives a station's).
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import puppeteer from "puppeteer-core";

const env = process.env;
const dir = fs.mkdtempSync(path.join(os.tmpdir(), "zeva-web-"));
const children = [];
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function start(program, args) {
  const child = spawn(program, args, { env: { ...env, TZ: "UTC" }, stdio: ["ignore", "ignore", "pipe"] });
  child.log = "";
  child.stderr.on("data", (data) => { child.log += data; });
  child.ended = new Promise((resolve) => child.on("exit", (code) => resolve(code)));
  children.push(child);
  return child;
}

async function until(what, test, timeoutMs = 15000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = await test();
    if (value) return value;
    if (Date.now() > end) throw new Error("timed out waiting for " + what);
    await sleep(50);
  }
}

// Resolves with `port` when it is free (0: any free port), else with 0.
const freePort = (port = 0) => new Promise((resolve) => {
  const server = net.createServer().once("error", () => resolve(0));
  server.listen(port, () => { const got = server.address().port; server.close(() => resolve(got)); });
});

// Sends raw bytes; resolves with the status line of the answer.
const raw = (port, bytes) => new Promise((resolve) => {
  let answer = "";
  const socket = net.connect(port, "127.0.0.1", () => socket.write(bytes)).on("error", () => {});
  socket.on("data", (data) => { answer += data; socket.end(); }).on("close", () => resolve(answer.split("\r\n")[0]));
});

// Resolves with the answer's status (and, with `withBody`, "STATUS BODY").
async function post(port, pathName, body, headers = {}, withBody = false) {
  const response = await fetch(`http://127.0.0.1:${port}${pathName}`, { method: "POST", body,
    headers: { "Content-Type": "application/x-www-form-urlencoded", ...headers } });
  const text = await response.text();
  return withBody ? `${response.status} ${text}` : response.status;
}

async function stop(child) {
  child.kill("SIGTERM");
  assert.equal(await child.ended, 0);
}

// Whether a box received the text: its trace's rx lines, joined (one read
// may hold a poll and a command, or part of one).
const received = (box, text) => [...box.log.matchAll(/ rx "(.*)"$/gm)].map((m) => m[1]).join("")
  .includes(text.replace(/\r/g, "\\r"));
const card = (page, id) => page.evaluate((id) => {
  const node = document.querySelector(`.card[data-id="${id}"]`);
  return node && { state: node.querySelector(".state").textContent, bearing: node.querySelector(".bearing").textContent,
    target: node.querySelector(".target-text").textContent, message: node.querySelector(".message").textContent };
}, id);

const links = env.ZEVA_WEB_LINKS ? env.ZEVA_WEB_LINKS.split(",") : [`${dir}/box1`, `${dir}/box2`];

function startStation(httpAddress, ports, extra = []) {
  return start(env.ZEVA_STATION, ["-v", "--http", httpAddress, "--preset", "EU:45", "--preset", "JA:330",
    "--name", "2:Tri Band", ...extra,
    "--rotator", `1:${links[0]}:yaesu:100:${ports[0]}`, "--rotator", `2:${links[1]}:spid:100:${ports[1]}`]);
}

async function main() {
  assert(await freePort(13020), "TCP port 13020 is taken: stop the program using it (another zeva-rotator?) and run again");
  start(env.ZEVA_DAEMON, []);
  const box1 = start(env.ZEVA_BOXSIM, ["-m", "yaesu", "--link", links[0], "-s", "60", "-v"]);
  const box2 = start(env.ZEVA_BOXSIM, ["-m", "spid", "--link", links[1], "-s", "60", "--start", "200", "-v"]);
  await until("the boxes", () => fs.existsSync(links[0]) && fs.existsSync(links[1]));
  const rotctldPorts = env.ZEVA_WEB_ROTCTLD_PORTS ? env.ZEVA_WEB_ROTCTLD_PORTS.split(",").map(Number)
    : [await freePort(), await freePort()];
  const httpPort = await freePort();
  let station = startStation(`127.0.0.1:${httpPort}`, rotctldPorts);

  const browser = await puppeteer.launch({ executablePath: env.ZEVA_CHROMIUM || "/usr/bin/chromium",
    headless: true, args: ["--no-sandbox", "--disable-gpu"] });
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 900, height: 620 });
    await until("the web page", async () => (await raw(httpPort, "GET / HTTP/1.0\r\n\r\n")).includes("200"));
    await page.goto(`http://127.0.0.1:${httpPort}/`);
    await until("both cards with their bearings", async () =>
      (await card(page, 1))?.bearing === "0°" && (await card(page, 2))?.bearing === "200°");
    assert.deepEqual(await page.$$eval(".card .name", (names) => names.map((n) => n.textContent)), ["Rotator 1", "Tri Band"]);

    // Both cards follow the antennas: a typed bearing, a preset.
    await page.type('.card[data-id="1"] input', "120");
    await page.click('.card[data-id="1"] button[type=submit]');
    await page.click('.card[data-id="2"] .presets button');
    const seen = [new Set(), new Set()];
    await until("both antennas at their targets", async () => {
      const cards = [await card(page, 1), await card(page, 2)];
      cards.forEach((c, i) => seen[i].add(c.bearing));
      return cards[0].bearing === "120°" && cards[1].bearing === "45°" && cards[0].state === "still";
    });
    assert(seen[0].size > 5 && seen[1].size > 5, "the cards showed the turns: " + [...seen[0]] + " / " + [...seen[1]]);
    assert(received(box1, "M120\r") && box1.log.includes("azimuth reached 120"));
    await until("box 2 at 45", () => /azimuth reached 0*45$/m.test(box2.log));

    // Each card says who sent its rotator's last command, what and how long ago: the page, a
    // tracker on the rotctld port, zeva-ctl through the station.
    const last = (id) => page.$eval(`.card[data-id="${id}"] .last`, (node) => node.textContent);
    await until("the page's turn shown", async () => /^Last: turn to 120 from page 127\.0\.0\.1, /.test(await last(1)));
    assert.equal(await raw(rotctldPorts[1], "P 60 0\n"), "RPRT 0\n");
    await until("the tracker's turn shown", async () => /^Last: turn to 60 from rotctld 127\.0\.0\.1:\d+, /.test(await last(2)));
    const ctl = start(env.ZEVA_CTL, ["--station", String(httpPort), "turn", "2", "45"]);
    assert.equal(await ctl.ended, 0, ctl.log);
    await until("zeva-ctl's turn shown", async () => (await last(2)).startsWith("Last: turn to 45 from zeva-ctl 127.0.0.1, "));
    await until("the age kept current", async () => / [2-9] s ago$/.test(await last(2)), 10000);

    // A click on the rose's south point turns to 180; stop reaches the box.
    const rose = await (await page.$('.card[data-id="1"] .rose')).boundingBox();
    await page.mouse.click(rose.x + rose.width / 2, rose.y + rose.height * 0.85);
    await until("the box to receive M180", () => received(box1, "M180\r"));
    await until("the card's target mark", async () => (await card(page, 1)).target === "→ 180°");
    await page.click('.card[data-id="1"] .stop');
    await until("the box to receive the stop", () => received(box1, "S\r"));
    await until("the stop to be answered", async () => (await card(page, 1)).message === "Stopped");
    assert.equal(await post(httpPort, "/api/stop", "rotator=all", {}, true), '200 {"stopped":[1,2]}');

    // A box that vanishes is offline on the page, and comes back.
    process.kill(box2.pid, "SIGUSR1");
    await until("rotator 2 offline", async () => (await card(page, 2)).state === "offline");
    // Its controls are off meanwhile (the bearing field, turn, stop, jog, presets).
    const controls = (id) => page.$$eval(`.card[data-id="${id}"] :is(.turn, .jog, .presets) :is(button, input)`,
      (nodes) => nodes.map((node) => node.disabled));
    assert((await controls(2)).every(Boolean) && !(await controls(1)).some(Boolean), "an offline rotator's controls are off");
    process.kill(box2.pid, "SIGUSR1");
    await until("rotator 2 back", async () => (await card(page, 2)).state === "still", 20000);
    assert(!(await controls(2)).some(Boolean), "its controls are back");
    // A box switched off behind its line: not responding once a turn shows no movement,
    // until the next turn after it is back on moves it.
    for (const off of [true, false]) {
      process.kill(box2.pid, "SIGUSR2");
      await post(httpPort, "/api/turn", "rotator=2&bearing=120");
      await until(`rotator 2 ${off ? "not " : ""}responding`, async () => ((await card(page, 2)).state === "not responding") === off);
    }

    // Malformed and rebound requests get a 4xx (no HTTP at all: closed); the rest goes on.
    for (const [request, status] of [["GET / HTTP/1.1\r\nno header line", / 400 /], ["GARBAGE", /^$/],
      ["GET /api/state HTTP/1.1\r\nHost: rebound.example", / 403 /]]) assert.match(await raw(httpPort, request + "\r\n\r\n"), status);
    assert.equal(await post(httpPort, "/api/turn", "rotator=1&bearing=north"), 400);
    assert.match(await raw(rotctldPorts[0], "p\n"), /^\d+\.\d+\n/);

    // A page of another origin cannot turn an antenna.
    const evilPort = await freePort();
    const evil = http.createServer((request, response) => response.end(`<script>
      fetch("http://127.0.0.1:${httpPort}/api/turn", { method: "POST", mode: "no-cors",
        headers: { "Content-Type": "application/x-www-form-urlencoded" }, body: "rotator=1&bearing=300" })
        .finally(() => { document.title = "sent"; });</script>`)).listen(evilPort, "127.0.0.1");
    const other = await browser.newPage();
    await other.goto(`http://127.0.0.1:${evilPort}/`);
    await until("the foreign page's request", async () => (await other.title()) === "sent");
    await until("the station's refusal", () => station.log.includes(`refused a request from the page of http://127.0.0.1:${evilPort}`));
    assert(!received(box1, "M300\r"), "a foreign page turned the antenna");
    await other.close();
    evil.close();

    if (env.ZEVA_SANITIZED !== "1") await measure(page, box1, rotctldPorts[0]);

    // The page says so while the station is gone, and reconnects by itself. Off loopback a
    // turn needs the secret: refused without, done with it.
    await stop(station);
    const notice = () => page.$eval("#notice", (node) => node.textContent);
    await until("the page to say it lost the station", async () => (await notice()).includes("reconnecting"));
    fs.writeFileSync(`${dir}/secret`, "correct horse\n", { mode: 0o600 });
    station = startStation(`0.0.0.0:${httpPort}`, rotctldPorts, ["--http-secret-file", `${dir}/secret`]);
    await until("the page to reconnect", async () => (await card(page, 1)).state === "still" && (await notice()) === "");
    await page.$eval('.card[data-id="1"] input', (input) => { input.value = "200"; });
    await page.click('.card[data-id="1"] button[type=submit]');
    await until("the refusal on the card", async () => (await card(page, 1)).message.includes("secret"));
    assert.equal(await page.$eval("#secret", (form) => form.hidden), false, "the page asks for the secret");
    assert.equal(await post(httpPort, "/api/turn", "rotator=1&bearing=200", { Authorization: "Bearer wrong" }), 401);
    assert(!received(box1, "M200\r"), "a turn without the secret reached the box");
    await page.type("#secret-input", "correct horse");
    await page.click("#secret button");
    await page.click('.card[data-id="1"] button[type=submit]');
    await until("the box to receive M200", () => received(box1, "M200\r"));
    await page.close();
    await stop(station);
    await places(browser, [box1, box2]);
    console.log("page test: all checks passed");
  } finally {
    await browser.close();
  }
}

// Samples, median, p99 and maximum, as a table row's cells.
function stats(samples) {
  const sorted = [...samples].sort((a, b) => a - b);
  const at = (q) => sorted[Math.min(sorted.length - 1, Math.ceil(q * sorted.length) - 1)];
  return `${sorted.length} | ${at(0.5).toFixed(2)} | ${at(0.99).toFixed(2)} | ${sorted[sorted.length - 1].toFixed(2)}`;
}

// How far (ms) the page's clock (performance.timeOrigin + now(): the monotonic clock, set to
// the wall clock once at load) is from the wall clock the emulator stamps its trace with,
// read at the moments Date.now() ticks to a new millisecond.
const pageClockOffset = (page) => page.evaluate(() => {
  const offsets = [];
  for (let i = 0; i < 15; ++i) {
    const before = Date.now();
    let now;
    while ((now = Date.now()) === before) { /* wait for the tick */ }
    offsets.push(performance.timeOrigin + performance.now() - now);
  }
  return offsets.sort((a, b) => a - b)[7];
});

// Box reply to page update for 200 updates of rotator 1 turning to and fro, each paired with
// the box's last reply of its bearing in the second before it, the page's clock corrected
// by its offset (measured before and after: measured again should the wall clock step);
// beside it, the rotctld port's answer time for 200 "p" queries.
async function measure(page, box, rotctldPort) {
  const boxTimes = () => {
    const day = new Date().toISOString().slice(0, 10);
    return [...box.log.matchAll(/^(\d\d:\d\d:\d\d\.\d{6}) boxsim: tx "AZ=(\d+)\\r\\n"$/gm)].map((m) => {
      let time = Date.parse(`${day}T${m[1].slice(0, 12)}Z`) + Number(m[1].slice(12)) / 1000;
      if (time > Date.now() + 3600e3) time -= 86400e3;  // stamped before midnight
      return { time, bearing: Number(m[2]) };
    });
  };
  let pageMs = [];
  let unmatched = [];
  let offsets = [];
  for (let attempt = 1; attempt <= 2; ++attempt) {
    const offsetBefore = await pageClockOffset(page);
    const first = await page.evaluate(() => window.zevaArrivals.length);
    let target = 0;
    await until("200 updates of rotator 1", async () => {
      const state = await card(page, 1);
      if (state.state === "still" || state.bearing === `${target}°`) {
        target = target === 0 ? 359 : 0;
        await post(page.url().match(/:(\d+)\//)[1], "/api/turn", `rotator=1&bearing=${target}`);
      }
      return (await page.evaluate(() => window.zevaArrivals.length)) - first > 230;
    }, 60000);
    const arrivals = (await page.evaluate(() => window.zevaArrivals)).slice(-(230));
    offsets = [offsetBefore, await pageClockOffset(page)];
    const replies = boxTimes();
    pageMs = [];
    unmatched = [];
    for (let i = 1; i < arrivals.length && pageMs.length < 200; ++i) {
      const bearing = arrivals[i].bearings[0];
      if (bearing === arrivals[i - 1].bearings[0]) continue;
      const time = arrivals[i].time - offsets[0];
      const reply = replies.filter((r) => r.bearing === bearing && r.time <= time + 0.5 && r.time > time - 1000).pop();
      if (reply) pageMs.push(time - reply.time); else unmatched.push({ bearing, time });
    }
    if (Math.abs(offsets[1] - offsets[0]) < 1) break;
    console.log(`page test: the wall clock moved ${(offsets[1] - offsets[0]).toFixed(1)} ms against the page's while measuring; measuring again`);
  }
  const rotctldMs = await new Promise((resolve) => {
    const socket = net.connect(rotctldPort, "127.0.0.1");
    const times = [];
    let sent = 0n;
    const ask = () => { sent = process.hrtime.bigint(); socket.write("p\n"); };
    socket.on("connect", ask);
    socket.on("data", () => {
      times.push(Number(process.hrtime.bigint() - sent) / 1e6);
      if (times.length < 200) ask(); else { socket.end(); resolve(times); }
    });
  });
  const table = `| Path | Samples | Median (ms) | p99 (ms) | Max (ms) |\n|---|---:|---:|---:|---:|\n` +
    `| Box reply to page update (browser) | ${stats(pageMs)} |\n| rotctld port: \`p\` asked to answer read | ${stats(rotctldMs)} |\n`;
  console.log(table);
  const show = (t) => new Date(t).toISOString().slice(11, 23);
  assert(pageMs.length >= 200, `only ${pageMs.length} updates could be matched to a box reply in the second ` +
    `before them (the page's clock ${offsets.map((o) => o.toFixed(1)).join(" then ")} ms from the wall clock); ` +
    `unmatched: ${unmatched.slice(0, 5).map((u) => `${u.bearing}° at ${show(u.time)}`).join(", ")}`);
  if (env.ZEVA_WEB_RESULTS) {
    fs.writeFileSync(env.ZEVA_WEB_RESULTS, `# The station page's latency\n\nMade by the browser test ` +
      `(tests/web/page_test.mjs, ZEVA_WEB_RESULTS set) on ${new Date().toISOString().slice(0, 16)} UTC, ` +
      `${os.cpus().length} cores, load average ${os.loadavg()[0].toFixed(2)}. A Yaesu box emulator polled ` +
      `every 100 ms turns to and fro; each page update of its bearing is matched with the box's reply ` +
      `that carried it (the emulator's trace, to the microsecond) and timed by the browser's clock, ` +
      `set against the wall clock before and after. ` +
      `Beside it, the station's rotctld port answering \`p\` (its last bearing) 200 times.\n\n${table}`);
  }
}

// Places, with a station where the moon is up now, its rotators on the boxes' own devices
// (/dev/pts/N or ZEVA_WEB_LINKS's, as a real station names /dev/ttyUSB0): a callsign and a
// locator found, on the map with short and long path, turned there, a click on the map, the
// moon followed; then jog buttons, clock, tab title, labels clear of the needle, focus
// frames, a phone's width.
async function places(browser, boxes) {
  const candidates = ["JO22ob", "FN31pr", "QF56od", "PM95vq", "GG87jb", "KG33xx", "MK82sw", "DM04tb", "BL11bh"];
  const heights = JSON.parse(execFileSync(env.ZEVA_PYTHON3 || "python3", ["-c", `
import ephem, json, sys
def height(loc):
    o = ephem.Observer(); o.pressure = 0
    o.lon = str((ord(loc[0]) - 65) * 20 - 180 + int(loc[2]) * 2 + (ord(loc[4].upper()) - 65) / 12 + 1 / 24)
    o.lat = str((ord(loc[1]) - 65) * 10 - 90 + int(loc[3]) + (ord(loc[5].upper()) - 65) / 24 + 1 / 48)
    return float(ephem.Moon(o).alt) * 180 / ephem.pi
print(json.dumps([height(loc) for loc in sys.argv[1:]]))`, ...candidates]).toString());
  const locator = candidates[heights.findIndex((h) => h > 15 && h < 60)];
  assert(locator, "the moon is up somewhere: " + heights);
  const devices = env.ZEVA_WEB_LINKS ? links :
    boxes.map((box) => fs.realpathSync(box.spawnargs[box.spawnargs.indexOf("--link") + 1]));
  const rotctld = [(await freePort(4533)) || (await freePort()), (await freePort(4535)) || (await freePort())];
  const httpPort = await freePort();
  const station = start(env.ZEVA_STATION, ["--http", `127.0.0.1:${httpPort}`, "--locator", locator,
    "--rotator", `1:${devices[0]}:yaesu:100:${rotctld[0]}`, "--rotator", `2:${devices[1]}:spid:100:${rotctld[1]}`]);
  const url = (path) => `http://127.0.0.1:${httpPort}${path}`;
  const get = async (path) => (await fetch(url(path))).json();
  const rotator = async (id) => (await get("/api/state")).rotators[id - 1];
  const page = await browser.newPage();
  await page.setViewport({ width: 1100, height: 1060 });
  await until("the station's page", async () => (await raw(httpPort, "GET / HTTP/1.0\r\n\r\n")).includes("200"));
  await page.goto(url("/"));

  // Every country of the country file on the map.
  const { countries } = await get("/api/countries");
  const mapMs = await until("the map", () => page.evaluate(() => window.zevaMapMs));
  assert.equal(await page.$$eval("#map .country", (dots) => dots.length), countries.length);
  assert.equal(await page.$eval("#station", (node) => node.textContent), "Station " + locator);

  // A callsign: its country, short and long path as the API gives them, drawn on the map;
  // Turn and Turn long path reach the box.
  const found = () => page.$eval("#found", (node) => node.textContent);
  const sent = async (id, azimuth) => {
    let target = null;
    await until(`rotator ${id} sent to ${azimuth}`, async () => {
      target = (await rotator(id)).target;
      return target !== null && target % 360 === Math.round(azimuth) % 360;
    });
    if (id === 1) await until(`box 1 to receive M${target}`, () => received(boxes[0], `M${String(target).padStart(3, "0")}\r`));
  };
  const japan = await get("/api/bearing?to=JA1XYZ");
  await page.type("#find-input", "JA1XYZ");
  await page.keyboard.press("Enter");
  await until("Japan found", async () => (await found()).includes("Japan"));
  for (const value of [japan.shortPath, japan.longPath]) assert((await found()).includes(value.toFixed(1) + "°"), await found());
  assert.equal(await page.$$eval("#map .route", (lines) => lines.length), 3, "the short path and the long path's two legs");
  await page.click("#turn-short");
  await sent(1, japan.shortPath);
  await page.click("#turn-long");
  await sent(1, japan.longPath);
  // A locator, on the other rotator.
  const far = locator === "FN31pr" ? "JO22ob" : "FN31pr";
  const locatorPaths = await get("/api/bearing?to=" + far);
  await page.$eval("#find-input", (input) => { input.value = ""; });
  await page.type("#find-input", far.toLowerCase());
  await page.click("#find button");
  await until(far + " found", async () => (await found()).startsWith(far));
  await page.select("#chosen", "2");
  await page.click("#turn-long");
  await sent(2, locatorPaths.longPath);
  await until("the answer", async () => (await page.$eval("#aim-message", (n) => n.textContent)).includes(far + ", long path"));
  // A click on the map, away from every country, turns the chosen rotator that way.
  // The map's point of a bearing and distance (the rim, 100, is the antipode).
  const onMap = (azimuth, km) => [Math.min(km, 20004) / 20004 * 100 * Math.sin(azimuth * Math.PI / 180),
    -Math.min(km, 20004) / 20004 * 100 * Math.cos(azimuth * Math.PI / 180)];
  const apart = (a, b) => Math.hypot(a[0] - b[0], a[1] - b[1]);
  const clear = [...Array(72).keys()].map((i) => i * 5).find((azimuth) =>
    countries.every((c) => apart(onMap(c[5], c[6]), onMap(azimuth, 19004)) > 6));
  await page.select("#chosen", "1");
  const map = await (await page.$("#map")).boundingBox();
  const clickMap = (azimuth, km) => {
    const [x, y] = onMap(azimuth, km);
    return page.mouse.click(map.x + map.width * (120 + x) / 240, map.y + map.height * (120 + y) / 240);
  };
  await clickMap(clear, 19004);
  await sent(1, clear);
  // A click on a country's point names it and turns there: Japan, and the country nearest the
  // station (at the centre, beside the station's own dot) that no other country's point crowds.
  await clickMap(japan.shortPath, japan.km);
  await until("Japan named", async () => (await found()).startsWith("Japan"));
  await sent(1, japan.shortPath);
  const [home, , , , , homeAzimuth, homeKm] = countries.filter((c) => countries.every((other) =>
    other === c || apart(onMap(c[5], c[6]), onMap(other[5], other[6])) > 1.5)).reduce((a, b) => (b[6] < a[6] ? b : a));
  await clickMap(homeAzimuth, homeKm);
  await until(home + " named", async () => (await found()).startsWith(home));
  await sent(1, (await get("/api/bearing?to=" + encodeURIComponent(home))).shortPath);

  // Following the moon: the box turns to it, the card says so; a tracker's command ends it.
  const sky = await get("/api/sky");
  await page.click('.card[data-id="1"] .follow button[data-body="moon"]');
  await sent(1, sky.moon.azimuth);
  await until("the card to say it follows", async () =>
    (await page.$eval('.card[data-id="1"] .following', (n) => n.textContent)) === "following the moon");
  assert.equal((await rotator(1)).follow, "moon");
  await until("the rotators to stand still", async () => (await get("/api/state")).rotators.every((r) => r.state === "still"), 30000);
  if (env.ZEVA_SCREENSHOT) {
    await page.evaluate(() => { window.scrollTo(0, 0); document.activeElement.blur(); });
    await page.screenshot({ path: env.ZEVA_SCREENSHOT, fullPage: true });
  }
  assert.equal(await raw(rotctld[0], "P 10 0\n"), "RPRT 0\n");
  await until("following to end", async () => (await rotator(1)).follow === null);
  assert(station.log.includes("rotator 1: following the moon ends: another command came from rotctld"), station.log);

  // The jog buttons turn 10 degrees from the target; the clock; the bearing in the tab's title.
  await page.click('.card[data-id="1"] .cw');
  await sent(1, 20);
  assert.match(await page.$eval("#clock", (n) => n.textContent), /^\d\d:\d\d:\d\d UTC$/);
  // The needle at 0 and at 300 covers neither N nor 300.
  for (const [bearing, label] of [[0, "N"], [300, "300"]]) {
    assert.equal(await post(httpPort, "/api/turn", `rotator=1&bearing=${bearing}`), 200);
    const now = await until(`rotator 1 at ${bearing}`, async () => {
      const now = await rotator(1);
      return now.bearing % 360 === bearing && now.state === "still" && now;
    }, 30000);
    await until("the title", async () => (await page.title()).startsWith(`1: ${now.bearing}°, 2: `));
    // Points along the needle (half its width to each side) and of its tip against the label's box.
    const covered = await page.evaluate((label) => {
      const card = document.querySelector('.card[data-id="1"]');
      const text = [...card.querySelectorAll(".labels text")].find((node) => node.textContent === label).getBoundingClientRect();
      const needle = card.querySelector(".needle"), matrix = needle.getScreenCTM();
      const points = [];
      for (let y = 0; y >= needle.y2.baseVal.value; y -= 0.5) {
        for (const x of [-2.5, 0, 2.5]) points.push(new DOMPoint(x, y).matrixTransform(matrix));
      }
      const tip = card.querySelector(".tip");
      for (const p of tip.getAttribute("d").match(/-?[\d.]+,-?[\d.]+/g)) {
        const [x, y] = p.split(",").map(Number);
        points.push(new DOMPoint(x, y).matrixTransform(tip.getScreenCTM()));
      }
      return points.some((p) => p.x > text.left && p.x < text.right && p.y > text.top && p.y < text.bottom);
    }, label);
    assert(!covered, `the needle at ${bearing} covers ${label}`);
  }
  // A click leaves no focus frame; the keyboard's focus shows one.
  const outline = () => page.$eval('.card[data-id="2"] .rose', (rose) => getComputedStyle(rose).outlineStyle);
  await page.click('.card[data-id="2"] .rose');
  assert.equal(await outline(), "none", "a click leaves a focus frame");
  await page.focus('.card[data-id="2"] input');
  await page.keyboard.down("Shift");
  await page.keyboard.press("Tab");
  await page.keyboard.up("Shift");
  assert.notEqual(await outline(), "none", "the keyboard's focus is not shown");
  // A phone's width: nothing wider than the screen.
  await page.setViewport({ width: 390, height: 844 });
  assert(await page.evaluate(() => document.documentElement.scrollWidth <= 390), "wider than a phone");

  // Bearings answered well under a millisecond: 500 asked one after another.
  const queries = ["JA1XYZ", "VK", "FN31pr", "52.1,5.1", "DL/PA3XYZ", "Japan"];
  const agent = new http.Agent({ keepAlive: true, maxSockets: 1 });
  const bearingMs = [];
  for (let i = 0; i < 500; ++i) {
    const started = process.hrtime.bigint();
    await new Promise((resolve, reject) => http.get({ host: "127.0.0.1", port: httpPort, agent,
      path: "/api/bearing?to=" + encodeURIComponent(queries[i % queries.length]) },
      (response) => response.resume().on("end", resolve)).on("error", reject));
    bearingMs.push(Number(process.hrtime.bigint() - started) / 1e6);
  }
  agent.destroy();
  const table = `| Places | Samples | Median (ms) | p99 (ms) | Max (ms) |\n|---|---:|---:|---:|---:|\n` +
    `| \`GET /api/bearing\` asked to answer read (callsigns, prefixes, locators, positions) | ${stats(bearingMs)} |\n` +
    `| The map with every country (${countries.length}) drawn, in the browser | 1 | ${mapMs.toFixed(2)} | | |\n`;
  console.log(table);
  if (env.ZEVA_WEB_RESULTS && env.ZEVA_SANITIZED !== "1") fs.appendFileSync(env.ZEVA_WEB_RESULTS, "\n" + table);
  await page.close();
  await stop(station);
}

main().then(() => 0, (error) => {
  console.error("page test failed: " + (error.stack || error));
  for (const child of children) {
    const events = child.log.split("\n").filter((line) => !/ [rt]x "/.test(line)).join("\n");
    console.error(`--- ${child.spawnargs.slice(0, 3).join(" ")} ---\n${events.slice(-1500)}`);
  }
  return 1;
}).then(async (result) => {
  let status = result;
  for (const child of children) if (child.exitCode === null) child.kill("SIGTERM");
  const codes = await Promise.all(children.map((child) => Promise.race([child.ended, sleep(5000)])));
  // Every program ends cleanly on SIGTERM (a sanitizer's report would not).
  codes.forEach((code, i) => {
    if (code === 0) return;
    console.error(`page test: ${children[i].spawnargs[0]} ended with ${code}:\n${children[i].log.slice(-3000)}`);
    status = 1;
  });
  fs.rmSync(dir, { recursive: true, force: true });
  process.exit(status);
});
