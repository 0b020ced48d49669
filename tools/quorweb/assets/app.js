// Operator screen: draws the objects of one module's screen from the
// gateway's layout, then follows live values over Server-Sent Events.
(function () {
  const root = document.getElementById('screen');
  const status = document.getElementById('status');
  const module = root.dataset.module;
  // The controller counts seconds from 2000-01-01; shown as UTC, as quorctl does.
  const EPOCH2000 = 946684800;
  const views = [];  // per object: function(liveFields)
  let layout = null;

  function bitsToFloat(i) {
    const dv = new DataView(new ArrayBuffer(4));
    dv.setInt32(0, i | 0);
    return dv.getFloat32(0);
  }
  function setStatus(text, bad) {
    status.textContent = text;
    status.className = bad ? 'offline' : '';
  }
  function el(tag, cls, text) {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  }
  function place(e, o) {
    e.style.left = (o.rows[0] || 0) + 'px';
    e.style.top = (o.rows[1] || 0) + 'px';
    e.dataset.index = o.index;
    root.appendChild(e);
    return e;
  }
  function pad(n) { return String(n).padStart(2, '0'); }
  function show(raw, fmt) {
    if (fmt <= 5) return bitsToFloat(raw).toFixed(fmt);
    if (fmt === 6) return String(bitsToFloat(raw));
    const u = raw >>> 0;
    if (fmt === 7) return pad(Math.floor(u / 3600)) + ':' + pad(Math.floor(u / 60) % 60) + ':' + pad(u % 60);
    if (fmt === 9) return '0x' + u.toString(16).toUpperCase();
    if (fmt === 11 || fmt === 12) {
      const d = new Date((u + EPOCH2000) * 1000);
      const day = d.getUTCFullYear() + '-' + pad(d.getUTCMonth() + 1) + '-' + pad(d.getUTCDate());
      return fmt === 11 ? day : day + ' ' + pad(d.getUTCHours()) + ':' + pad(d.getUTCMinutes()) + ':' + pad(d.getUTCSeconds());
    }
    return String(u);
  }
  async function write(index, value, msg) {
    msg.textContent = '…';
    msg.className = 'msg';
    try {
      const r = await fetch('/api/write/' + encodeURIComponent(module),
        { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ object: index, value: value }) });
      const j = await r.json();
      msg.textContent = j.ok ? 'written' : (j.error || 'refused');
      msg.className = 'msg ' + (j.ok ? 'ok' : 'refused');
    } catch (e) {
      msg.textContent = 'gateway unreachable';
      msg.className = 'msg refused';
    }
  }
  // Graph interval codes: the span shown, in seconds.
  const SPANS = [300, 600, 1800, 3600, 7200, 14400, 28800, 86400, 172800, 604800];
  const COLOURS = ['#c33', '#36c', '#393', '#c90', '#939'];
  // Minimum, maximum and interval of a graph: from the display description
  // (variable limits already read), else from the rows.
  function range(o) {
    const a = o.arr || [];
    const lo = a.length > 2 ? bitsToFloat(a[0]) : 0, hi = a.length > 2 ? bitsToFloat(a[1]) : 100;
    const iv = Math.min(9, Math.max(0, a.length > 2 ? a[2] : Number(o.rows[7]) || 0));
    return [lo, hi, iv];
  }
  function chart(box, names, o, points) {
    const [lo, hi] = range(o);
    const opts = {
      width: 340, height: 130,
      tzDate: ts => uPlot.tzDate(new Date(ts * 1e3), 'Etc/UTC'),
      scales: { x: { time: true }, y: lo < hi ? { range: [lo, hi] } : { auto: true } },
      series: [{}, ...names.map((n, k) => ({
        label: n, stroke: COLOURS[k], spanGaps: !points,
        points: { show: !!points, size: 6, fill: COLOURS[k] },
        width: points ? 0 : 1.5,
      }))],
    };
    const u = new uPlot(opts, [[], ...names.map(() => [])], box);
    box.chart = u;  // its data, for the page's own checks
    return u;
  }
  function screenLink(target) {
    const m = (layout.modules || []).find(m => m.title === target || m.name === target);
    return m ? '/screen/' + encodeURIComponent(m.name) : null;
  }

  const draw = {
    0(o) { place(el('div', 'obj frame', o.name), o); return null; },
    1(o) {
      const href = screenLink(o.text || o.rows[6] || '');
      const a = place(el('a', 'obj button' + (href ? '' : ' disabled'), o.name || o.text), o);
      if (href) a.href = href;
      return null;
    },
    2(o) {
      const box = place(el('div', 'obj variable'), o);
      const fmt = o.rows[6], lo = bitsToFloat(o.rows[9]), hi = bitsToFloat(o.rows[10]);
      box.appendChild(el('span', 'label', o.name || o.rows[4]));
      const val = box.appendChild(el('span', 'value', '—'));
      const msg = el('span', 'msg');
      // arr[0] of the display description: may this session write at all.
      if (layout.level !== 'none' && o.arr && o.arr[0] === 1 && fmt <= 11) {
        const slider = o.rows[11] === 4 && lo !== hi;
        const input = el('input');
        input.type = slider ? 'range' : 'number';
        input.step = 'any';
        if (lo !== hi) { input.min = lo; input.max = hi; }
        if (slider) input.step = (hi - lo) / 100;
        const send = () => write(o.index, Number(input.value), msg);
        if (slider) input.addEventListener('change', send);
        box.appendChild(input);
        if (!slider) {
          const b = box.appendChild(el('button', 'set', 'Set'));
          b.addEventListener('click', send);
          input.addEventListener('keydown', e => { if (e.key === 'Enter') send(); });
        }
        box.appendChild(msg);
        return f => {
          val.textContent = show(f[0], fmt);
          if (slider && document.activeElement !== input) input.value = bitsToFloat(f[0]);
        };
      }
      return f => { val.textContent = show(f[0], fmt); };
    },
    3(o) { place(el('div', 'obj instruction', o.name), o); return null; },
    4(o) {
      const a = place(el('a', 'obj resource', o.name || o.text), o);
      if (/^(https?:\/\/|\/)/.test(o.text || '')) a.href = o.text;  // no script addresses
      return null;
    },
    5(o) {
      // Live variables, kept for the graph's interval.
      const box = place(el('div', 'obj graph'), o);
      box.appendChild(el('div', 'label', o.name));
      const names = [], slots = [];
      for (let k = 0; k < 5; k++) {
        if (!o.rows[8 + k] || o.rows[8 + k] === 'Null') continue;
        slots.push(k);
        const cap = o.rows[13 + k];
        names.push(cap && cap !== 'none' ? cap : o.rows[8 + k]);
      }
      const u = chart(box, names, o);
      const span = SPANS[range(o)[2]];
      const data = [[], ...names.map(() => [])];
      return f => {
        const t = (f[0] >>> 0) + EPOCH2000;
        if (data[0].length && t <= data[0][data[0].length - 1]) return;
        data[0].push(t);
        slots.forEach((k, i) => {
          const v = bitsToFloat(f[1 + k]);
          data[1 + i].push(Math.abs(v) < 3e38 ? v : null);
        });
        while (data[0].length && data[0][0] < t - span) data.forEach(s => s.shift());
        u.setData(data);
        box.dataset.points = data[0].length;
      };
    },
    6(o) {
      // Records of a periodic or event file, read by the gateway for every viewer.
      const box = place(el('div', 'obj graph history'), o);
      box.appendChild(el('div', 'label', o.name));
      const ids = o.rows.slice(8, 13).map(Number).filter(n => n > 0);
      const file = Number(o.rows[4]) - 1;
      if (file < 0 || !ids.length) {
        box.appendChild(el('div', 'msg', 'no history file chosen'));
        return null;
      }
      const kind = o.rows[14] ? 'evt' : 'per';
      let u = null;  // made with the first reply, which names the series
      const q = '/api/history?kind=' + kind + '&file=' + file + '&interval=' + range(o)[2] + '&ids=' + ids.join(',');
      const refresh = async () => {
        try {
          const r = await fetch(q);
          if (r.ok) {
            const j = await r.json();
            if (!j.error) {
              u = u || chart(box, j.names.map((n, i) => n || (kind === 'evt' ? 'event ' : 'bin ') + ids[i]), o, kind === 'evt');
              u.setData([j.t.map(t => t + EPOCH2000), ...j.series]);
              box.dataset.points = j.t.length;
            }
          }
        } catch (e) { /* the status line shows a lost gateway */ }
        setTimeout(refresh, 5000);
      };
      refresh();
      return null;
    },
  };

  async function load() {
    const r = await fetch('/api/screen/' + encodeURIComponent(module));
    if (!r.ok) {
      setStatus(r.status === 404 ? 'no screen ' + module : 'controller not connected', true);
      setTimeout(load, 2000);
      return;
    }
    layout = await r.json();
    document.title = layout.title || module;
    root.textContent = '';
    layout.objects.forEach((o, i) => {
      o.index = i;
      views[i] = o.visible && draw[o.type] ? draw[o.type](o) : null;
    });
    root.dataset.ready = '1';
    follow();
  }
  function follow() {
    const es = new EventSource('/events/' + encodeURIComponent(module));
    es.onmessage = e => {
      const d = JSON.parse(e.data);
      if (!d.connected) { setStatus('controller connection lost', true); return; }
      setStatus(layout.level === 'none' ? 'read-only' : 'live', false);
      (d.values || []).forEach((f, i) => { if (views[i]) views[i](f); });
      if (d.select) {
        const href = screenLink(d.select);
        if (href) location.href = href;
      }
    };
    es.onerror = () => setStatus('gateway unreachable', true);
  }
  load();
})();
