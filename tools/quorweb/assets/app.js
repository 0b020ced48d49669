// Operator screen: draws the objects of one module's screen from the
// gateway's layout, then follows live values over Server-Sent Events.
(function () {
  const root = document.getElementById('screen');
  const status = document.getElementById('status');
  const module = root.dataset.module;
  const FORMAT_TYPES = [0, 0, 0, 0, 0, 0, 0, 2, 3, 4, 5, 1, 6];
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
      const d = new Date(u * 1000);
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
      const box = place(el('div', 'obj graph'), o);
      box.appendChild(el('div', 'label', o.name));
      const c = box.appendChild(el('canvas'));
      c.width = 320; c.height = 160;
      const lo = o.rows[18] ? 0 : bitsToFloat(o.rows[5]), hi = o.rows[18] ? 100 : bitsToFloat(o.rows[6]);
      const series = [[], [], [], [], []];
      const colours = ['#c33', '#36c', '#393', '#c90', '#939'];
      return f => {
        for (let k = 0; k < 5; k++) {
          const v = bitsToFloat(f[1 + k]);
          if (v < 1e38) series[k].push(v);
          if (series[k].length > 300) series[k].shift();
        }
        const g = c.getContext('2d');
        g.clearRect(0, 0, c.width, c.height);
        const span = hi - lo || 1;
        series.forEach((s, k) => {
          if (!s.length) return;
          g.strokeStyle = colours[k];
          g.beginPath();
          s.forEach((v, i) => {
            const x = i * c.width / 300, y = c.height - (v - lo) / span * c.height;
            i ? g.lineTo(x, y) : g.moveTo(x, y);
          });
          g.stroke();
        });
        c.dataset.points = series.reduce((n, s) => n + s.length, 0);
      };
    },
    6(o) { place(el('div', 'obj graph', o.name), o); return null; },
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
