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
  const WIDGETS = ['box', 'led', 'slide-switch', 'toggle-switch', 'slider', 'bar', 'knob', 'meter', 'button',
    'check-box', 'radio-button'];
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
      // A variable, drawn by the object's widget type; its style word, when
      // set, colours lamps and bars (0xRRGGBB).
      const box = place(el('div', 'obj variable'), o);
      const fmt = o.rows[6], lo = bitsToFloat(o.rows[9]), hi = bitsToFloat(o.rows[10]);
      const widget = Math.min(10, Math.max(0, Number(o.rows[11]) || 0)), style = o.rows[12] >>> 0;
      const colour = style !== 0xFFFFFFFF ? '#' + (style & 0xFFFFFF).toString(16).padStart(6, '0') : '';
      const choices = fmt === 10 && o.text ? o.text.split('~') : null;  // the selection set
      const number = raw => fmt <= 6 ? bitsToFloat(raw) : raw >>> 0;
      const text = raw => choices && choices[raw >>> 0] !== undefined ? choices[raw >>> 0] : show(raw, fmt);
      box.dataset.widget = WIDGETS[widget];
      box.appendChild(el('span', 'label', o.name || o.rows[4]));
      const shown = [];  // each: function(raw)
      if (widget === 1) {  // LED: lit while the value is not 0
        const lamp = box.appendChild(el('span', 'lamp'));
        shown.push(raw => {
          const on = number(raw) !== 0;
          lamp.classList.toggle('on', on);
          lamp.style.background = on && colour ? colour : '';
        });
      } else if ((widget === 5 || widget === 7) && lo < hi) {  // bar, meter: the value between minimum and maximum
        const bar = box.appendChild(el('span', 'bar'));
        const fill = bar.appendChild(el('span', 'fill'));
        if (colour) fill.style.background = colour;
        shown.push(raw => {
          const share = Math.min(1, Math.max(0, (number(raw) - lo) / (hi - lo)));
          fill.style.width = (share * 100).toFixed(1) + '%';
          bar.dataset.share = share.toFixed(3);
        });
      }
      const val = box.appendChild(el('span', 'value', '—'));
      shown.push(raw => { val.textContent = text(raw); });
      const msg = el('span', 'msg');
      // arr[0] of the display description: may this session write at all.
      if (layout.level !== 'none' && o.arr && o.arr[0] === 1 && fmt <= 11) {
        const send = v => write(o.index, v, msg);
        if (widget === 2 || widget === 3 || widget === 9) {  // switches and check box: 1 or 0
          const input = box.appendChild(el('input'));
          input.type = 'checkbox';
          input.addEventListener('change', () => send(input.checked ? 1 : 0));
          shown.push(raw => { if (document.activeElement !== input) input.checked = number(raw) !== 0; });
        } else if (widget === 8) {  // push button: writes 1
          box.appendChild(el('button', 'push', 'Press')).addEventListener('click', () => send(1));
        } else if (widget === 10 && choices) {  // radio buttons: one per choice
          const group = 'v' + o.index;
          const radios = choices.map((c, i) => {
            const l = box.appendChild(el('label', 'choice'));
            const r = l.appendChild(el('input'));
            r.type = 'radio'; r.name = group; r.value = i;
            r.addEventListener('change', () => send(i));
            l.appendChild(document.createTextNode(c));
            return r;
          });
          shown.push(raw => radios.forEach((r, i) => { r.checked = (raw >>> 0) === i; }));
        } else {
          const slider = (widget === 4 || widget === 6) && lo !== hi;  // slider, knob
          const input = el('input');
          input.type = slider ? 'range' : 'number';
          input.step = 'any';
          if (lo !== hi) { input.min = lo; input.max = hi; }
          if (slider) input.step = (hi - lo) / 100;
          const go = () => send(Number(input.value));
          if (slider) input.addEventListener('change', go);
          box.appendChild(input);
          if (!slider) {
            box.appendChild(el('button', 'set', 'Set')).addEventListener('click', go);
            input.addEventListener('keydown', e => { if (e.key === 'Enter') go(); });
          }
          if (slider) shown.push(raw => { if (document.activeElement !== input) input.value = number(raw); });
        }
        box.appendChild(msg);
      }
      return f => shown.forEach(fn => fn(f[0]));
    },
    3(o) {
      // An instruction's rows as the controller shows them through the
      // object; numeric rows writable when the session is logged in (the
      // object's write level decides, the value read back tells).
      const box = place(el('div', 'obj instruction'), o);
      box.appendChild(el('div', 'label', o.name));
      const table = box.appendChild(el('table'));
      const msg = box.appendChild(el('div', 'msg'));
      const url = '/api/panel/' + encodeURIComponent(module) + '/' + o.index;
      let lines = null;  // per row: function(row)
      const build = j => {
        const fixed = j.rows.filter(r => r.group === 0).length;
        lines = j.rows.map(r => {
          const at = r.group ? fixed + r.row : r.row;
          const choices = j.choices[at] || [];
          const name = (j.labels[at] || 'row ' + at) + (r.group ? ' ' + r.group : '');
          const tr = table.appendChild(el('tr'));
          tr.dataset.label = name;
          tr.appendChild(el('th', '', name));
          const td = tr.appendChild(el('td', 'value'));
          const show = row => {
            let v = row.value;
            if (row.type === 5 && choices[v] !== undefined) v = choices[v];
            else if (row.type === 0 && typeof v === 'number') v = Number(v.toPrecision(6));
            else if (row.type === 264 && v === 'none') v = '';
            td.textContent = row.live !== undefined ? v + ' = ' + Number(row.live.toPrecision(6)) : String(v);
          };
          if (layout.level === 'none' || r.type >= 6) return show;
          const cell = tr.appendChild(el('td'));
          let input;
          if (r.type === 5 && choices.length) {
            input = cell.appendChild(el('select'));
            choices.forEach((c, i) => { const op = input.appendChild(el('option', '', c)); op.value = i; });
          } else {
            input = cell.appendChild(el('input'));
            input.type = 'number'; input.step = 'any';
          }
          cell.appendChild(el('button', 'set', 'Set')).addEventListener('click', async () => {
            msg.textContent = '…';
            try {
              const res = await fetch(url, { method: 'POST', headers: { 'Content-Type': 'application/json' },
                body: JSON.stringify({ group: r.group, row: r.row, value: Number(input.value) }) });
              const w = await res.json();
              msg.textContent = w.ok ? (w.clamped ? 'written, limited' : 'written') : (w.error || 'refused');
              msg.className = 'msg ' + (w.ok ? 'ok' : 'refused');
            } catch (e) {
              msg.textContent = 'gateway unreachable';
              msg.className = 'msg refused';
            }
          });
          return row => {
            show(row);
            if (document.activeElement !== input) input.value = row.value;
          };
        });
      };
      const refresh = async () => {
        try {
          const r = await fetch(url);
          if (r.ok) {
            const j = await r.json();
            if (j.error) msg.textContent = j.error;
            else {
              if (!lines || lines.length !== j.rows.length) { table.textContent = ''; build(j); }
              j.rows.forEach((row, i) => lines[i](row));
              box.dataset.ready = '1';
            }
          }
        } catch (e) { /* the status line shows a lost gateway */ }
        setTimeout(refresh, 1000);
      };
      refresh();
      return null;
    },
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
