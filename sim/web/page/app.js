// The live view of a simulated device. Everything shown comes from the
// server's JSON API; the event stream says when something changed. Text from
// the device is only ever set as text (never parsed as HTML).
'use strict';

const MAX_TEXT_BYTES = 64 * 1024;
const MAX_MAIL_BYTES = 4 * 1024 * 1024;
const ROUTE_NAMES = {
  'carrier': 'Carrier',
  'google-voice': 'Google Voice',
  'carrier-to-access-number': 'Carrier to an access number',
  'failed': 'Failed',
};

// ---- Small helpers ----------------------------------------------------------

function el(tag, props = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props)) {
    if (key.startsWith('data-') || key.startsWith('aria-')) node.setAttribute(key, value);
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else node[key] = value;
  }
  for (const child of children) if (child != null) node.append(child);
  return node;
}

async function api(path, options = {}) {
  const response = await fetch(path, options);
  let body;
  try {
    body = await response.json();
  } catch {
    body = {error: `${response.status} ${response.statusText}`};
  }
  if (!response.ok) throw new Error(body.error || response.statusText);
  return body;
}

function post(path, body) {
  return api(path, {
    method: 'POST',
    headers: {'Content-Type': 'application/json'},
    body: JSON.stringify(body),
  });
}

// A panel's problem line: shown with `text`, hidden without.
function problem(panel, text) {
  const line = document.querySelector(`#${panel} .problem`);
  line.textContent = text || '';
  line.hidden = !text;
}

// Runs `load` for a panel, showing what went wrong instead of throwing.
async function guarded(panel, load) {
  try {
    await load();
    problem(panel, '');
  } catch (error) {
    problem(panel, error.message);
  }
}

function debounce(fn, ms) {
  let timer;
  return (...args) => {
    clearTimeout(timer);
    timer = setTimeout(() => fn(...args), ms);
  };
}

function fill(list, items) {
  list.replaceChildren(...items);
}

// ---- Messages ---------------------------------------------------------------

const messages = new Map();  // serial -> message
let pendingEvents = null;     // message events that came while the list loaded
let selected = null;          // key of the conversation shown

function counterparts(message) {
  if (message.direction === 'incoming') return [message.sender ?? '(unknown)'];
  return message.recipients.length ? message.recipients : [message.chatIdentifier ?? ''];
}

// Numbers written differently are one conversation: (212) 555-1212, +12125551212.
function addressKey(address) {
  if (address.includes('@')) return address.toLowerCase();
  let digits = address.replace(/\D/g, '');
  if (digits.length === 11 && digits.startsWith('1')) digits = digits.slice(1);
  return digits || address;
}

function conversationKey(addresses) {
  return addresses.map(addressKey).sort().join(',');
}

function conversations() {
  const byKey = new Map();
  const ordered = [...messages.values()].sort((a, b) => a.serial - b.serial);
  for (const message of ordered) {
    const names = counterparts(message);
    const key = conversationKey(names);
    if (!byKey.has(key)) byKey.set(key, {key, names, messages: []});
    byKey.get(key).messages.push(message);
  }
  return [...byKey.values()].sort((a, b) => b.messages.at(-1).serial - a.messages.at(-1).serial);
}

function timeOf(message) {
  // Seconds since 2001, as the device's clock keeps them.
  return message.time ? new Date((message.time + 978307200) * 1000).toLocaleTimeString() : '';
}

function bubble(message) {
  const failed = message.state === 'failed';
  const meta = [message.service, message.state, timeOf(message)].filter(Boolean).join(' · ');
  return el('li', {
    className: `bubble ${message.direction} ${message.service === 'iMessage' ? 'imessage' : 'sms'}` +
        (failed ? ' failed' : ''),
    'data-serial': message.serial,
    'data-state': message.state,
  },
  el('span', {className: 'text'}, message.text ?? ''),
  el('span', {className: 'meta'}, meta),
  failed ? el('span', {className: 'not-delivered', title: 'Not Delivered'}, '! Not Delivered') :
           null);
}

function renderMessages() {
  const all = conversations();
  // The one chosen, else the latest; a conversation just composed is chosen
  // before its first message arrives.
  const shown = all.find((c) => c.key === selected) ?? all[0];
  fill(document.getElementById('conversations'), all.map((c) => {
    const last = c.messages.at(-1);
    return el('li', {
      className: c === shown ? 'selected' : '',
      'data-key': c.key,
      onclick: () => {
        selected = c.key;
        renderMessages();
      },
    },
    el('strong', {}, c.names.join(', ')),
    el('span', {className: 'last'}, last.text ?? ''),
    c.messages.some((m) => m.state === 'failed') ? el('span', {className: 'badge'}, '!') : null);
  }));
  document.getElementById('thread-title').textContent =
      shown ? shown.names.join(', ') : 'No conversation';
  fill(document.getElementById('thread'), shown ? shown.messages.map(bubble) : []);
}

function applyMessageEvent(event) {
  if (pendingEvents) {
    pendingEvents.push(event);
    return;
  }
  messages.set(event.message.serial, event.message);
  renderMessages();
}

async function loadMessages() {
  pendingEvents = [];
  try {
    const {items} = await api('/api/messages');
    messages.clear();
    for (const message of items) messages.set(message.serial, message);
  } finally {
    // Events heard while the list was read are newer than it, or the same.
    const heard = pendingEvents;
    pendingEvents = null;
    for (const event of heard) messages.set(event.message.serial, event.message);
    renderMessages();
  }
}

// ---- Compose ----------------------------------------------------------------

function recipients() {
  return document.getElementById('compose-to').value.split(/[,;]/).map((s) => s.trim())
      .filter(Boolean);
}

function routeLine(route) {
  if (!('route' in route)) {
    return `${route.input}: ${route.mode === 0 ? 'stays an iMessage' :
                              route.mode < 0 ? 'Failed' : 'Google Voice'}`;
  }
  const why = route.ruleKey !== null ? `rule ${route.ruleKey}` :
      route.autoRule ? 'automatic rule' :
      route.type === 'invalid' ? 'not a phone number' :
      route.canonical === null ? `setting for ${route.type} numbers` : 'default route';
  return `${route.input}: ${ROUTE_NAMES[route.route] ?? route.route} (${why})`;
}

const showRoutes = debounce(async () => {
  const to = recipients();
  const list = document.getElementById('routes');
  const why = document.getElementById('route-why');
  if (!to.length) {
    fill(list, []);
    why.hidden = true;
    return;
  }
  const query = new URLSearchParams({service: document.getElementById('compose-service').value});
  for (const address of to) query.append('to', address);
  try {
    const {items, explanation} = await api(`/api/route?${query}`);
    fill(list, items.map((route) => el('li', {
      className: `route ${route.route ?? ''}`,
      'data-route': route.route ?? String(route.mode),
    }, routeLine(route))));
    why.querySelector('pre').textContent = explanation ?? '';
    why.hidden = !explanation;
  } catch (error) {
    fill(list, [el('li', {className: 'route failed'}, error.message)]);
  }
}, 200);

async function sendComposed(event) {
  event.preventDefault();
  const text = document.getElementById('compose-text').value;
  const to = recipients();
  const bytes = new TextEncoder().encode(text).length;
  if (bytes > MAX_TEXT_BYTES) {
    return problem('compose-panel',
        `The text is ${bytes} bytes long; at most ${MAX_TEXT_BYTES} can be sent.`);
  }
  try {
    const {sent} = await post('/api/send',
        {service: document.getElementById('compose-service').value, recipients: to, text});
    problem('compose-panel', sent ? '' : 'The Messages app did not send it.');
    if (sent) {
      document.getElementById('compose-text').value = '';
      selected = conversationKey(to);
      renderMessages();
    }
  } catch (error) {
    problem('compose-panel', error.message);
  }
}

// ---- Home screen: banners and alerts ------------------------------------------

let alertShown = null;  // "host/index" of the alert in the dialog

function showAlert(alerts) {
  const dialog = document.getElementById('alert');
  const next = alerts.find((a) => !a.dismissed);
  const id = next ? `${next.host}/${next.index}` : null;
  if (id === alertShown) return;
  alertShown = id;
  if (!next) {
    if (dialog.open) dialog.close();
    return;
  }
  dialog.dataset.alert = id;
  dialog.querySelector('.alert-title').textContent = next.title ?? '';
  dialog.querySelector('.alert-message').textContent = next.message ?? '';
  const buttons = next.buttons?.length ? next.buttons : ['OK'];
  fill(dialog.querySelector('.alert-buttons'), buttons.map((title) => el('button', {
    type: 'button',
    onclick: async () => {
      try {
        await post('/api/alerts/dismiss', {host: next.host, index: next.index, button: title});
      } catch (error) {
        problem('home-panel', error.message);
      }
      loadHome();
    },
  }, title)));
  if (!dialog.open) dialog.showModal();
}

const loadHome = () => guarded('home-panel', async () => {
  const {banners, alerts} = await api('/api/home');
  fill(document.getElementById('banners'), banners.slice().reverse().map((b) =>
    el('li', {}, el('small', {}, b.topic ?? ''), el('span', {className: 'pre'}, b.alert ?? '(no text)'))));
  showAlert(alerts);
});

// ---- Switch panel -------------------------------------------------------------

const loadSwitches = () => guarded('switches-panel', async () => {
  const {items} = await api('/api/switches');
  fill(document.getElementById('switches'), items.map((s) => el('li', {},
    el('span', {}, s.title ?? s.identifier),
    el('button', {
      type: 'button',
      className: `switch ${s.state}`,
      'data-identifier': s.identifier,
      'aria-pressed': String(s.state === 'on'),
      onclick: () => guarded('switches-panel', async () => {
        await post('/api/switches', {identifier: s.identifier, state: 'toggle'});
        await loadSwitches();
        showRoutes();
      }),
    }, s.state))));
});

// ---- Mail ---------------------------------------------------------------------

const loadMail = () => guarded('mail-panel', async () => {
  const {items} = await api('/api/mail');
  fill(document.getElementById('mail'), items.slice().reverse().map((m) => el('li', {},
    el('strong', {}, m.subject ?? '(no subject)'),
    el('small', {}, `${m.firstSender ?? ''} · ${m.account}/${m.mailbox}`))));
});

async function deliverMail(file) {
  if (!file) return;
  if (file.size > MAX_MAIL_BYTES) {
    return problem('mail-panel', `${file.name} is larger than 4 MiB; a mail may be at most 4 MiB.`);
  }
  await guarded('mail-panel', async () => {
    await api('/api/mail', {method: 'POST', headers: {'Content-Type': 'message/rfc822'}, body: file});
    await loadMail();
  });
}

// ---- Google Voice service -----------------------------------------------------

const loadServiceTexts = () => guarded('gv-panel', async () => {
  const {available, texts} = await api('/api/gv');
  const list = document.getElementById('gv-texts');
  if (!available) return fill(list, [el('li', {}, 'The device runs without the stand-in service.')]);
  fill(list, texts.slice().reverse().map((t) =>
    el('li', {}, el('strong', {}, `to ${t.to}`), el('span', {className: 'pre'}, t.text ?? ''))));
});

// ---- Settings, rules, contacts ------------------------------------------------

function settingInput(setting) {
  const change = (value) => guarded('settings-panel', async () => {
    await post('/api/settings', {key: setting.key, value});
    await loadSettings();
  });
  if (setting.type === 'bool') {
    return el('input', {type: 'checkbox', checked: setting.value === true, name: setting.key,
      onchange: (e) => change(e.target.checked)});
  }
  return el('input', {
    type: setting.key === 'password' ? 'password' : setting.type === 'integer' ? 'number' : 'text',
    value: setting.value ?? '',
    name: setting.key,
    onchange: (e) => change(e.target.value),
  });
}

const loadSettings = () => guarded('settings-panel', async () => {
  const {items} = await api('/api/settings');
  fill(document.querySelector('#settings tbody'), items.map((s) => {
    const byDefault = s.source ? s.source === 'default' : s.default === true;
    return el('tr', {'data-key': s.key},
      el('th', {scope: 'row'}, s.key),
      el('td', {}, settingInput(s)),
      el('td', {className: 'source'}, byDefault ? 'default' : ''));
  }));
});

const loadRules = () => guarded('rules-panel', async () => {
  const {items} = await api('/api/rules');
  const change = (body, path = '/api/rules') => guarded('rules-panel', async () => {
    await post(path, body);
    await loadRules();
    showRoutes();
  });
  fill(document.getElementById('rules'), items.map((rule) => {
    const mode = el('select', {onchange: (e) => change({prefix: rule.key, mode: e.target.value})},
      el('option', {value: 'carrier', selected: rule.mode === 0}, 'Carrier'),
      el('option', {value: 'gv', selected: rule.mode === 1}, 'Google Voice'));
    return el('li', {'data-key': rule.key}, el('span', {}, rule.key), mode,
      el('button', {type: 'button', onclick: () => change({prefix: rule.key}, '/api/rules/delete')},
        'Delete'));
  }));
});

async function addRule(event) {
  event.preventDefault();
  await guarded('rules-panel', async () => {
    await post('/api/rules', {prefix: document.getElementById('rule-prefix').value,
      mode: document.getElementById('rule-mode').value});
    document.getElementById('rule-prefix').value = '';
    await loadRules();
    showRoutes();
  });
}

const loadContacts = () => guarded('contacts-panel', async () => {
  const {items} = await api('/api/contacts');
  const addTo = (value) => {
    const field = document.getElementById('compose-to');
    field.value = [...recipients(), value].join(', ');
    showRoutes();
  };
  fill(document.getElementById('contacts'), items.map((person) => el('li', {},
    el('strong', {}, person.name),
    ...[...(person.phones ?? []), ...(person.emails ?? [])].map((entry) =>
      el('button', {type: 'button', className: 'link', onclick: () => addTo(entry.value)},
        `${entry.label ? entry.label + ': ' : ''}${entry.value}`)))));
});

// ---- Live updates -------------------------------------------------------------

const refreshHome = debounce(loadHome, 50);
const refreshMail = debounce(loadMail, 50);
const refreshService = debounce(loadServiceTexts, 300);
const refreshSettings = debounce(() => {
  loadSettings();
  loadSwitches();
  showRoutes();
}, 50);
const refreshRules = debounce(() => {
  loadRules();
  showRoutes();
}, 50);

function onDeviceEvent({source, event}) {
  if (source === 'daemon' && event.message) {
    applyMessageEvent(event);
    if (event.message.direction === 'outgoing') refreshService();
  } else if (source === 'springboard' || (source === 'messages' && event.event === 'alert')) {
    refreshHome();
  } else if (source === 'mail') {
    refreshMail();
  } else if (source === 'notify' && event.name === 'com.talvern.PelorinSettingsNotification') {
    refreshSettings();
  } else if (source === 'notify' && event.name === 'com.talvern.DorvessaRulesChangedNotification') {
    refreshRules();
  }
}

function loadAll() {
  return Promise.all([
    guarded('messages-panel', loadMessages), loadHome(), loadSwitches(), loadMail(),
    loadServiceTexts(), loadSettings(), loadRules(), loadContacts(),
  ]);
}

function connect() {
  const state = document.getElementById('link-state');
  const events = new EventSource('/api/events');
  // Subscribed first, then loaded: nothing that happens in between is missed.
  events.onopen = async () => {
    state.textContent = 'live';
    state.className = 'link-state live';
    await loadAll();
    if (!document.body.dataset.loaded) performance.mark('pelorin-loaded');
    document.body.dataset.loaded = 'true';
  };
  events.onmessage = (message) => onDeviceEvent(JSON.parse(message.data));
  events.onerror = () => {
    state.textContent = 'reconnecting…';
    state.className = 'link-state down';
  };
}

document.addEventListener('DOMContentLoaded', () => {
  document.getElementById('compose').addEventListener('submit', sendComposed);
  document.getElementById('compose-to').addEventListener('input', showRoutes);
  document.getElementById('compose-service').addEventListener('change', showRoutes);
  document.getElementById('rule-add').addEventListener('submit', addRule);
  document.getElementById('alert').addEventListener('cancel', (e) => e.preventDefault());
  const drop = document.getElementById('mail-drop');
  drop.addEventListener('dragover', (e) => {
    e.preventDefault();
    drop.classList.add('over');
  });
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  drop.addEventListener('drop', (e) => {
    e.preventDefault();
    drop.classList.remove('over');
    deliverMail(e.dataTransfer.files[0]);
  });
  document.getElementById('mail-file').addEventListener('change', (e) => {
    deliverMail(e.target.files[0]);
    e.target.value = '';
  });
  connect();
});
