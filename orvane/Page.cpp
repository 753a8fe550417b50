// The control page: the recorder's state, time and file, Start and Stop, and
// the token, which the page asks for once and keeps in the tab's session
// storage. A link with ?token=... still works; the page takes the token and
// drops it from the address bar at once.
#include "Endpoint.h"

namespace orvane {

const char* controlPage() {
    return R"HTML(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Recorder remote control</title>
<style>
body { font-family: system-ui, sans-serif; margin: 0; background: #f4f5f7; color: #1d2330; }
main { max-width: 34em; margin: 2em auto; padding: 1.5em 2em; background: #fff;
       border-radius: 8px; box-shadow: 0 1px 4px rgba(0,0,0,.15); }
h1 { font-size: 1.3em; margin: 0 0 1em; }
dl { display: grid; grid-template-columns: 5em 1fr; gap: .4em 1em; margin: 0 0 1.2em; }
dt { color: #5a6275; }
dd { margin: 0; font-weight: 600; overflow-wrap: anywhere; }
#time { font-variant-numeric: tabular-nums; }
#state[data-state="2"], #state[data-state="3"] { color: #176c2e; }
#state[data-state="1"] { color: #8a4b00; }
button { font: inherit; padding: .35em 1.2em; margin-right: .5em; border-radius: 5px;
         border: 1px solid #7a8294; background: #fff; cursor: pointer; }
button:disabled { opacity: .45; cursor: default; }
#start:not(:disabled) { background: #1f7a38; border-color: #1f7a38; color: #fff; }
#stop:not(:disabled) { background: #b3261e; border-color: #b3261e; color: #fff; }
.note { color: #5a6275; font-size: .9em; }
#message { margin: 1em 0; padding: .6em .8em; border-radius: 5px; background: #fdecea;
           border: 1px solid #e0a19c; display: flex; gap: 1em; align-items: center; }
#message[hidden], form[hidden], button[hidden] { display: none; }
#messageText { flex: 1; }
form { margin: 1em 0; padding: .8em; border: 1px solid #c9cdd6; border-radius: 5px; }
input { font: inherit; padding: .3em; width: 20em; max-width: 100%; }
</style>
</head>
<body>
<main>
<h1>Recorder remote control</h1>
<dl>
<dt>State</dt><dd id="state">&ndash;</dd>
<dt>Time</dt><dd id="time">&ndash;</dd>
<dt>File</dt><dd id="file">&ndash;</dd>
</dl>
<p><button id="start" type="button" disabled>Start</button><button id="stop" type="button" disabled>Stop</button></p>
<p id="link" class="note">Connecting&hellip;</p>
<div id="message" role="alert" hidden><span id="messageText"></span><button id="dismiss" type="button">Dismiss</button></div>
<form id="tokenForm" hidden>
<p><label for="token">Token</label><br>
<input id="token" type="password" autocomplete="off" spellcheck="false">
<button id="useToken" type="submit">Use token</button></p>
<p class="note">The token is in <code>~/.config/orvane/token</code> on the recorder's machine.
This tab keeps it until it closes.</p>
</form>
<p><button id="forget" type="button" hidden>Forget the token</button></p>
</main>
<script>
(function () {
  'use strict';
  var KEY = 'orvaneToken';
  var names = {0: 'Unknown', 1: 'Stopped', 2: 'Running', 3: 'Recording', 4: 'Paused'};
  var el = function (id) { return document.getElementById(id); };

  // A token in the address is taken and removed from the address bar at once.
  var params = new URLSearchParams(window.location.search);
  if (params.has('token')) {
    if (params.get('token')) sessionStorage.setItem(KEY, params.get('token'));
    params.delete('token');
    var rest = params.toString();
    history.replaceState(null, '', window.location.pathname + (rest ? '?' + rest : ''));
  }
  function token() { return sessionStorage.getItem(KEY) || ''; }

  var state = null;      // the last state number shown; null while unknown
  var busy = false;      // a command is on its way
  var awaiting = null;   // after a command: the state it left, until it changes
  var awaitingUntil = 0;
  var timer = null;
  var refreshing = false;
  var again = false;

  function pad(n) { return (n < 10 ? '0' : '') + n; }
  function clock(t) {
    if (typeof t !== 'number' || !isFinite(t) || t < 0) return '\u2013';
    var tenths = Math.floor(t * 10 + 1e-6);
    return Math.floor(tenths / 36000) + ':' + pad(Math.floor(tenths / 600) % 60) + ':' +
           pad(Math.floor(tenths / 10) % 60) + '.' + (tenths % 10);
  }

  function buttons() {
    var held = busy || (awaiting !== null && Date.now() < awaitingUntil && state === awaiting);
    el('start').disabled = held || state !== 1;
    el('stop').disabled = held || !(state === 2 || state === 3 || state === 4);
  }
  function showMessage(text) {
    el('messageText').textContent = text;
    el('message').hidden = false;
  }
  function unknown(text) {
    state = null;
    el('state').textContent = '\u2013';
    el('state').removeAttribute('data-state');
    el('time').textContent = '\u2013';
    el('file').textContent = '\u2013';
    el('link').textContent = text;
    buttons();
  }
  function askToken(text) {
    unknown(text);
    el('forget').hidden = true;
    if (el('tokenForm').hidden) {
      el('tokenForm').hidden = false;
      el('token').focus();
    }
  }
  function show(s) {
    state = typeof s.state === 'number' ? s.state : null;
    if (state !== awaiting) awaiting = null;
    el('state').textContent = state in names ? names[state] : 'State ' + state;
    el('state').setAttribute('data-state', String(state));
    el('time').textContent = clock(s.time);
    el('file').textContent = s.file ? s.file : '(none)';
    el('link').textContent = s.recorder ? 'Connected to the recorder.' : 'No recorder attached.';
    el('tokenForm').hidden = true;
    el('forget').hidden = false;
    buttons();
  }

  function call(method, path) {
    return fetch(path, {method: method, cache: 'no-store',
                        headers: {'Authorization': 'Bearer ' + token()}})
      .then(function (r) {
        return r.text().then(function (text) {
          var body = null;
          try { body = JSON.parse(text); } catch (e) { body = null; }
          return {status: r.status, ok: r.ok, body: body};
        });
      });
  }

  function schedule() {
    clearTimeout(timer);
    timer = setTimeout(refresh, 1000);
  }
  function refresh() {
    if (refreshing) { again = true; return; }
    if (!token()) { askToken('Enter the token to connect.'); schedule(); return; }
    refreshing = true;
    call('GET', '/api/status').then(function (r) {
      if (r.status === 401) {
        sessionStorage.removeItem(KEY);
        askToken('The recorder refused the token; enter it again.');
      } else if (!r.ok || r.body === null) {
        unknown('The recorder answered ' + r.status + '; trying again.');
      } else {
        show(r.body);
      }
    }, function () {
      unknown('No connection to the recorder; trying again.');
    }).then(function () {
      refreshing = false;
      if (again) { again = false; refresh(); } else { schedule(); }
    });
  }

  function command(name) {
    if (busy) return;
    busy = true;
    awaiting = state;
    awaitingUntil = Date.now() + 5000;
    buttons();
    var label = name.charAt(0).toUpperCase() + name.slice(1);
    call('POST', '/api/' + name).then(function (r) {
      if (r.ok) return;
      awaiting = null;
      if (r.status === 401) {
        sessionStorage.removeItem(KEY);
        showMessage(label + ' refused: the token is wrong.');
      } else {
        showMessage(label + ' refused: ' +
                    (r.body && r.body.error ? r.body.error : 'HTTP ' + r.status) + '.');
      }
    }, function () {
      awaiting = null;
      showMessage(label + ' failed: no connection to the recorder.');
    }).then(function () {
      busy = false;
      buttons();
      refresh();
    });
  }

  el('start').addEventListener('click', function () { command('start'); });
  el('stop').addEventListener('click', function () { command('stop'); });
  el('dismiss').addEventListener('click', function () { el('message').hidden = true; });
  el('tokenForm').addEventListener('submit', function (event) {
    event.preventDefault();
    var value = el('token').value.trim();
    el('token').value = '';
    if (!value) return;
    sessionStorage.setItem(KEY, value);
    el('tokenForm').hidden = true;
    el('link').textContent = 'Connecting\u2026';
    refresh();
  });
  el('forget').addEventListener('click', function () {
    sessionStorage.removeItem(KEY);
    askToken('The token is forgotten; enter it to connect again.');
  });
  refresh();
})();
</script>
</body>
</html>
)HTML";
}

} // namespace orvane
