// The control page: Start and Stop, and a status line that refreshes itself.
// The token comes from the address the page was opened with (?token=...); the
// page keeps it for the tab's session and drops it from the address bar.
#include "Endpoint.h"

namespace orvane {

const char* controlPage() {
    return R"HTML(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Recorder remote control</title>
<style>
body { font-family: sans-serif; margin: 2em; }
button { font-size: 1.2em; padding: 0.3em 1.2em; margin-right: 0.5em; }
#status { margin-top: 1em; font-family: monospace; }
</style>
</head>
<body>
<h1>Recorder remote control</h1>
<p><button id="start" type="button">Start</button><button id="stop" type="button">Stop</button></p>
<p id="status">Waiting for the recorder&hellip;</p>
<script>
(function () {
  var params = new URLSearchParams(window.location.search);
  var token = params.get('token');
  if (token !== null) {
    sessionStorage.setItem('orvaneToken', token);
    history.replaceState(null, '', window.location.pathname);
  } else {
    token = sessionStorage.getItem('orvaneToken') || '';
  }
  var line = document.getElementById('status');

  function call(method, path) {
    return fetch(path, {method: method, cache: 'no-store',
                        headers: {'Authorization': 'Bearer ' + token}})
      .then(function (response) {
        if (response.status === 401) throw new Error('missing or wrong token');
        if (!response.ok) throw new Error('HTTP ' + response.status);
        return response.json();
      });
  }

  function refresh() {
    return call('GET', '/api/status').then(function (s) {
      var time = typeof s.time === 'number' ? s.time.toFixed(2) + ' s' : 'unknown';
      line.textContent = 'State ' + s.state + ' (' + s.stateText + '), time ' + time +
                         ', file ' + (s.file ? s.file : 'none');
      line.setAttribute('data-state', String(s.state));
    }).catch(function (e) {
      line.textContent = 'No status: ' + e.message;
      line.removeAttribute('data-state');
    });
  }

  function command(name) {
    call('POST', '/api/' + name).then(refresh).catch(function (e) {
      line.textContent = name + ' refused: ' + e.message;
    });
  }

  document.getElementById('start').addEventListener('click', function () { command('start'); });
  document.getElementById('stop').addEventListener('click', function () { command('stop'); });
  refresh();
  setInterval(refresh, 1000);
})();
</script>
</body>
</html>
)HTML";
}

} // namespace orvane
