// The driver's status line, asked for every two seconds (which also keeps
// the panel from ending by itself), and the Quit button.
'use strict';

function statusText(reply) {
  if (!reply.reachable) return 'Not reachable: ' + reply.why;
  return Object.entries(reply.status).map(([k, v]) => k + '=' + v).join(' ');
}

async function poll() {
  const line = document.getElementById('status');
  try {
    const response = await fetch('/api/status');
    line.textContent = response.ok ? statusText(await response.json()) : 'The panel refused: ' + response.status;
  } catch (e) {
    line.textContent = 'The panel has ended.';
    return;
  }
  setTimeout(poll, 2000);
}

document.getElementById('quit').addEventListener('click', async () => {
  await fetch('/api/quit', {method: 'POST', headers: {'Content-Type': 'application/json'}, body: '{}'});
  document.getElementById('status').textContent = 'The panel has ended.';
});

poll();
