'use strict';
// The live view: a WebSocket per camera brings its frames (JPEG with a JSON summary), readouts
// and status; actions go to the JSON API. The token, where the server asks for one, comes
// from this page's address.
const token = new URLSearchParams(location.search).get('token') || '';
const authHeaders = token ? { Authorization: 'Bearer ' + token } : {};
let palettes = {};
let serverEnded = '';

async function api(method, path, body) {
  const init = { method, headers: { ...authHeaders } };
  if (body !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  const response = await fetch(path, init);
  const type = response.headers.get('Content-Type') || '';
  const reply = type.startsWith('application/json') ? await response.json() : await response.blob();
  if (!response.ok) throw new Error((reply && reply.error) || response.statusText);
  return reply;
}

function setServerState(text, kind) {
  const pill = document.getElementById('server-state');
  pill.textContent = text;
  pill.className = 'pill ' + (kind || '');
}

function showBanner(text) {
  const banner = document.getElementById('banner');
  banner.textContent = text;
  banner.hidden = !text;
}

const fmt = (n) => Number(n).toLocaleString('en-US');

class CameraView {
  constructor(index, info) {
    this.index = index;
    const node = document.getElementById('camera-template').content.firstElementChild.cloneNode(true);
    node.id = 'camera-' + index;
    document.getElementById('cameras').appendChild(node);
    this.node = node;
    this.q = (selector) => node.querySelector(selector);
    this.canvas = this.q('canvas.frame');
    this.context = this.canvas.getContext('2d');
    this.q('.name').textContent = info.name;
    this.q('.model').textContent = info.model;
    for (const name of Object.keys(palettes)) this.q('.palette').add(new Option(name, name));
    this.frame = null;        // the summary of the frame shown
    this.bitmap = null;       // its picture
    this.decoding = false;
    this.waiting = null;      // the newest frame that arrived while one was being decoded
    this.spot = null;         // the pixel under the pointer
    this.box = null;          // [x0, y0, x1, y1]
    this.drag = null;
    this.view = info.view;
    this.status = info;
    this.bindControls();
    this.applyStatus(info, null);
    this.connect();
  }

  connect() {
    const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
    const query = token ? '?token=' + encodeURIComponent(token) : '';
    const socket = new WebSocket(scheme + location.host + '/api/cameras/' + this.index + '/live' + query);
    socket.binaryType = 'arraybuffer';
    socket.onopen = () => { this.socket = socket; this.sendPointer(); setServerState('live', 'live'); };
    socket.onmessage = (event) => this.onMessage(event.data);
    socket.onclose = (event) => {
      this.socket = null;
      if (event.reason) serverEnded = event.reason;
      if (serverEnded) {
        setServerState('ended', 'ended');
        showBanner('The server has ended: ' + serverEnded + '. Recordings were closed; what they kept is below.');
      } else {
        setServerState('reconnecting…');
      }
      setTimeout(() => this.connect(), 3000);
    };
  }

  send(message) {
    if (this.socket && this.socket.readyState === WebSocket.OPEN) this.socket.send(JSON.stringify(message));
  }

  sendPointer() {
    this.send({ spot: this.spot, box: this.box });
  }

  onMessage(data) {
    if (typeof data === 'string') {
      const message = JSON.parse(data);
      if (message.type === 'status') this.applyStatus(message.camera, message.server);
      else if (message.type === 'readout' && this.frame && message.frame === this.frame.frame) this.showReadout(message);
      return;
    }
    const length = new DataView(data).getUint32(0, true);
    const summary = JSON.parse(new TextDecoder().decode(new Uint8Array(data, 4, length)));
    const picture = new Blob([new Uint8Array(data, 4 + length)], { type: 'image/jpeg' });
    // The newest wins here too: frames that arrive while one is decoded replace each other.
    this.waiting = { summary, picture };
    if (!this.decoding) this.decodeNext();
  }

  async decodeNext() {
    const next = this.waiting;
    this.waiting = null;
    if (!next) return;
    this.decoding = true;
    try {
      const bitmap = await createImageBitmap(next.picture);
      if (this.bitmap) this.bitmap.close();
      this.bitmap = bitmap;
      this.frame = next.summary;
      this.draw();
      this.showReadout(next.summary);
      this.showExtremes(next.summary);
      this.drawColourBar();
    } catch (error) {
      this.message('a frame could not be shown: ' + error.message, true);
    }
    this.decoding = false;
    if (this.waiting) this.decodeNext();
  }

  draw() {
    const f = this.frame;
    if (!f || !this.bitmap) return;
    if (this.canvas.width !== f.width || this.canvas.height !== f.height) {
      this.canvas.width = f.width;
      this.canvas.height = f.height;
    }
    const c = this.context;
    c.drawImage(this.bitmap, 0, 0);
    this.q('.waiting').hidden = true;
    const scale = f.width / Math.max(this.canvas.clientWidth, 1);  // picture pixels per screen pixel
    c.lineWidth = Math.max(1, 1.5 * scale);
    this.marker(f.hottest, 'rgb(255,120,110)', 'max', scale);
    this.marker(f.coldest, 'rgb(110,185,255)', 'min', scale);
    const box = this.drag ? this.drag.box : this.box;
    if (box) {
      c.strokeStyle = 'rgba(255,255,255,.9)';
      c.setLineDash([4 * scale, 3 * scale]);
      const [x0, y0, x1, y1] = box;
      c.strokeRect(Math.min(x0, x1), Math.min(y0, y1), Math.abs(x1 - x0) + 1, Math.abs(y1 - y0) + 1);
      c.setLineDash([]);
    }
    if (this.spot) {
      const [x, y] = this.spot;
      c.strokeStyle = 'rgba(255,255,255,.85)';
      c.beginPath();
      c.moveTo(x + 0.5, y - 8 * scale); c.lineTo(x + 0.5, y - 2 * scale);
      c.moveTo(x + 0.5, y + 3 * scale); c.lineTo(x + 0.5, y + 9 * scale);
      c.moveTo(x - 8 * scale, y + 0.5); c.lineTo(x - 2 * scale, y + 0.5);
      c.moveTo(x + 3 * scale, y + 0.5); c.lineTo(x + 9 * scale, y + 0.5);
      c.stroke();
    }
  }

  marker(p, colour, label, scale) {
    const c = this.context;
    const r = 6 * scale;
    const x = p.x + 0.5, y = p.y + 0.5;
    const path = () => {
      c.beginPath();
      c.arc(x, y, r, 0, 2 * Math.PI);
      c.moveTo(x - r * 1.7, y); c.lineTo(x - r * 0.5, y);
      c.moveTo(x + r * 0.5, y); c.lineTo(x + r * 1.7, y);
      c.moveTo(x, y - r * 1.7); c.lineTo(x, y - r * 0.5);
      c.moveTo(x, y + r * 0.5); c.lineTo(x, y + r * 1.7);
    };
    // A dark outline under the colour keeps the mark visible on any part of the palette.
    const width = c.lineWidth;
    c.strokeStyle = 'rgba(0,0,0,.75)';
    c.lineWidth = width * 2.5;
    path(); c.stroke();
    c.strokeStyle = colour;
    c.lineWidth = width;
    path(); c.stroke();
    c.font = `600 ${Math.round(12 * scale)}px sans-serif`;
    const right = p.x + r * 2 + 60 * scale < this.canvas.width;
    const top = p.y - r * 1.2 > 14 * scale;
    c.textAlign = right ? 'left' : 'right';
    c.textBaseline = top ? 'bottom' : 'top';
    const tx = x + (right ? 1 : -1) * r * 1.4, ty = y + (top ? -1 : 1) * r * 1.2;
    c.lineWidth = 3 * scale;
    c.strokeStyle = 'rgba(0,0,0,.8)';
    c.strokeText(`${label} ${p.count}`, tx, ty);
    c.fillStyle = colour;
    c.fillText(`${label} ${p.count}`, tx, ty);
    c.lineWidth = width;
  }

  showReadout(r) {
    const spot = this.q('.spot');
    if ('spot' in r) {
      if (r.spot) {
        spot.textContent = `(${r.spot.x}, ${r.spot.y})  ${fmt(r.spot.count)} counts`;
        Object.assign(spot.dataset, { frame: r.frame, x: r.spot.x, y: r.spot.y, count: r.spot.count });
      } else {
        spot.textContent = 'outside the picture';
        delete spot.dataset.count;
      }
    } else if (!this.spot) {
      spot.textContent = 'move the pointer over the picture';
      delete spot.dataset.count;
    }
    const box = this.q('.box');
    if (r.box) {
      const b = r.box;
      box.innerHTML = '';
      box.append(`${fmt(b.pixels)} px  `, this.span('cold', `min ${fmt(b.coldest.count)}`), '  ',
                 this.span('hot', `max ${fmt(b.hottest.count)}`), `  mean ${b.mean.toFixed(1)}`);
      Object.assign(box.dataset, { frame: r.frame, min: b.coldest.count, max: b.hottest.count, mean: b.mean,
                                   pixels: b.pixels, region: this.box ? this.box.join(',') : '' });
    } else if (!this.box) {
      box.textContent = 'drag on the picture';
      delete box.dataset.min;
    }
  }

  showExtremes(f) {
    const e = this.q('.extremes');
    e.innerHTML = '';
    e.append(`#${f.frame}  `, this.span('cold', `min ${fmt(f.coldest.count)} (${f.coldest.x}, ${f.coldest.y})`), '  ',
             this.span('hot', `max ${fmt(f.hottest.count)} (${f.hottest.x}, ${f.hottest.y})`), `  mean ${f.mean.toFixed(1)}`);
    Object.assign(e.dataset, { frame: f.frame, min: f.coldest.count, max: f.hottest.count,
                               coldest: `${f.coldest.x},${f.coldest.y}`, hottest: `${f.hottest.x},${f.hottest.y}` });
  }

  span(kind, text) {
    const s = document.createElement('span');
    s.className = kind;
    s.textContent = text;
    return s;
  }

  drawColourBar() {
    const f = this.frame;
    const colours = palettes[f ? f.palette : this.view.palette];
    if (!colours) return;
    const key = f ? `${f.palette}/${f.low}/${f.high}` : '';
    if (key === this.barKey) return;
    this.barKey = key;
    const bar = this.q('canvas.bar').getContext('2d');
    for (let i = 0; i < 256; ++i) {
      bar.fillStyle = colours[255 - i];
      bar.fillRect(0, i, 14, 1);
    }
    if (!f) return;
    this.q('.bar-high').textContent = fmt(f.high);
    this.q('.bar-mid').textContent = fmt(Math.round((f.low + f.high) / 2));
    this.q('.bar-low').textContent = fmt(f.low);
  }

  // The picture pixel under a pointer event, clamped to the picture.
  pixelAt(event) {
    const rect = this.canvas.getBoundingClientRect();
    const x = Math.floor((event.clientX - rect.left) * this.canvas.width / rect.width);
    const y = Math.floor((event.clientY - rect.top) * this.canvas.height / rect.height);
    return [Math.min(Math.max(x, 0), this.canvas.width - 1), Math.min(Math.max(y, 0), this.canvas.height - 1)];
  }

  bindControls() {
    const canvas = this.canvas;
    canvas.addEventListener('pointermove', (event) => {
      const p = this.pixelAt(event);
      if (this.drag) {
        this.drag.box = [this.drag.from[0], this.drag.from[1], p[0], p[1]];
      }
      if (!this.spot || p[0] !== this.spot[0] || p[1] !== this.spot[1]) {
        this.spot = p;
        this.send({ spot: p });
      }
      this.draw();
    });
    canvas.addEventListener('pointerleave', () => {
      this.spot = null;
      this.send({ spot: null });
      this.showReadout({});
      this.draw();
    });
    canvas.addEventListener('pointerdown', (event) => {
      canvas.setPointerCapture(event.pointerId);
      const p = this.pixelAt(event);
      this.drag = { from: p, box: [p[0], p[1], p[0], p[1]] };
    });
    canvas.addEventListener('pointerup', (event) => {
      if (!this.drag) return;
      const [x0, y0] = this.drag.from;
      const [x1, y1] = this.pixelAt(event);
      this.drag = null;
      // A click without a drag clears the box.
      this.box = (Math.abs(x1 - x0) + Math.abs(y1 - y0) >= 2) ? [x0, y0, x1, y1] : null;
      this.send({ box: this.box });
      this.showReadout({});
      this.draw();
    });

    this.q('.palette').addEventListener('change', (event) => this.setView({ palette: event.target.value }));
    this.q('.range-mode').addEventListener('change', (event) => {
      const fixed = event.target.value === 'fixed';
      this.q('.fixed-range').hidden = !fixed;
      if (!fixed) this.setView({ range: 'auto' });
      else if (this.frame) {
        this.q('.low').value = this.frame.low;
        this.q('.high').value = this.frame.high;
      }
    });
    this.q('.apply-range').addEventListener('click', () =>
      this.setView({ low: Number(this.q('.low').value), high: Number(this.q('.high').value) }));
    this.q('.record').addEventListener('click', () => this.act(this.status.recording ? 'recording/stop' : 'recording/start'));
    this.q('.nuc').addEventListener('click', () => this.act('correct'));
    this.q('.snapshot').addEventListener('click', () => this.snapshot());
  }

  async setView(change) {
    try {
      this.view = await api('POST', `/api/cameras/${this.index}/view`, change);
      this.message('');
    } catch (error) {
      this.message(error.message, true);
    }
  }

  async act(what) {
    const button = what === 'correct' ? this.q('.nuc') : this.q('.record');
    button.disabled = true;
    try {
      const reply = await api('POST', `/api/cameras/${this.index}/${what}`);
      if (what === 'recording/start') {
        this.message('recording to ' + reply.file);
        this.recordingTo = reply.file;
      }
      else if (what === 'recording/stop')
        this.message(`recorded ${reply.file} (${fmt(reply.frames)} frames` +
                     (reply.dropped > 0 ? `, ${fmt(reply.dropped)} not recorded)` : ')'));
      else this.message('correction started');
    } catch (error) {
      this.message(error.message, true);
    }
    button.disabled = false;
  }

  async snapshot() {
    try {
      const taken = await api('POST', `/api/cameras/${this.index}/snapshot`);
      const stem = `${this.status.name}-frame-${taken.frame}`.replace(/[^A-Za-z0-9.-]/g, '_');
      for (const [kind, ending] of [['png', '.png'], ['tiff', '.tif']]) {
        if (kind === 'tiff' && !taken.tiff_url) continue;
        // By its id: another viewer's snapshot taken meanwhile is not this one.
        const blob = await api('GET', taken[`${kind}_url`]);
        const link = document.createElement('a');
        link.href = URL.createObjectURL(blob);
        link.download = stem + ending;
        document.body.appendChild(link);
        link.click();
        link.remove();
        setTimeout(() => URL.revokeObjectURL(link.href), 10000);
      }
      this.message(`snapshot of frame #${taken.frame} saved`);
    } catch (error) {
      this.message(error.message, true);
    }
  }

  message(text, error) {
    this.recordingTo = null;
    const m = this.q('.message');
    m.textContent = text;
    m.className = 'message' + (error ? ' error' : '');
  }

  applyStatus(s, server) {
    this.status = s;
    if (server && server.ending) serverEnded = server.ending;
    const state = this.q('.state');
    state.textContent = s.state;
    state.className = 'badge state ' + s.state;
    this.q('.rec').hidden = !s.recording;
    // A recording that ended by itself (the disk, the camera) must not still read as running.
    if (this.recordingTo && !s.recording && s.recording_file === this.recordingTo) this.message('');
    this.q('.fps').textContent = s.fps.toFixed(1) + ' fps';
    this.q('.delivered').textContent = fmt(s.delivered);
    // Lost to the viewer either way: frames the plug-in could not decode and frames the camera dropped.
    this.q('.lost').textContent = fmt(s.lost + s.camera_dropped);
    this.q('.calibrating').textContent = s.calibrating ? `yes (${s.calibrations})` : `no (${s.calibrations})`;
    this.q('.format').textContent = s.width ? `${s.format} ${s.width}×${s.height}` : s.format;
    // Images the recorder had no room for are missing from the file: a user must see that.
    const notRecorded = s.recording_dropped > 0 ? `, ${fmt(s.recording_dropped)} not recorded` : '';
    let recording = 'not recording';
    if (s.recording) recording = `${s.recording_file}  ${fmt(s.recording_frames)} frames${notRecorded}`;
    else if (s.recording_file) recording = `${s.recording_file}  ${fmt(s.recording_frames)} frames${notRecorded}, ended: ${s.recording_end}`;
    const rec = this.q('.recording');
    rec.textContent = recording;
    rec.title = recording;
    Object.assign(rec.dataset, { file: s.recording_file, active: s.recording, frames: s.recording_frames,
                                 dropped: s.recording_dropped ?? 0 });
    rec.classList.toggle('warn', s.recording_dropped > 0);
    const record = this.q('.record');
    record.textContent = s.recording ? '■ Stop recording' : '● Record';
    record.classList.toggle('on', s.recording);
    record.disabled = s.state !== 'streaming';
    this.q('.nuc').hidden = !s.can_correct;
    this.q('.nuc').disabled = s.state !== 'streaming';
    const gone = this.q('.gone');
    gone.hidden = s.state === 'streaming' || s.state === 'starting';
    gone.textContent = s.state === 'gone'
      ? 'The camera disappeared.' + (!s.recording_closed_by_disappearance ? ''
        : s.recording_frames > 0 ? ` Its recording ${s.recording_file} was closed with ${fmt(s.recording_frames)} frames${notRecorded}.`
        : s.recording_dropped > 0 ? ' No image of its recording was recorded, so no file was kept.'
        : ' Its recording had no frame, so no file was kept.')
      : (s.message || '');
    // Another viewer's choice of view shows here too, unless this one is being edited.
    const view = s.view;
    this.view = view;
    const palette = this.q('.palette');
    if (document.activeElement !== palette) palette.value = view.palette;
    const mode = this.q('.range-mode');
    const fixed = view.range !== 'auto';
    if (document.activeElement !== mode) mode.value = fixed ? 'fixed' : 'auto';
    this.q('.fixed-range').hidden = mode.value !== 'fixed';
    if (fixed && document.activeElement !== this.q('.low') && document.activeElement !== this.q('.high')) {
      this.q('.low').value = view.low;
      this.q('.high').value = view.high;
    }
    this.drawColourBar();
  }
}

async function start() {
  try {
    palettes = await api('GET', '/api/palettes');
    const cameras = await api('GET', '/api/cameras');
    cameras.forEach((info, i) => new CameraView(i, info));
  } catch (error) {
    setServerState('unreachable', 'ended');
    showBanner('The server did not answer: ' + error.message);
  }
}

start();
