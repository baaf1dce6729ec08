'use strict';

// A call: its details, the player with the loudness outline (a click on it seeks there), the
// downloads and the note, which accounts allowed to change notes can save.
(() => {
  const id = new URLSearchParams(window.location.search).get('id') || '';
  const audio = document.getElementById('audio');
  const canvas = document.getElementById('outline');
  const noteForm = document.getElementById('noteForm');
  let peaks = [];

  function showDetails(call) {
    const rows = call.columns.map((title, column) => [title, call.texts[column]]);
    const body = document.querySelector('#details tbody');
    body.replaceChildren();
    for (const [title, text] of rows.slice(1)) {
      const line = body.insertRow();
      line.appendChild(sdvoice.element('th', title));
      line.insertCell().textContent = text;
    }
    document.title = call.texts[1] + ' - 通话录音';
    noteForm.elements.description.value = call.description;
    noteForm.elements.userType.value = call.userType;
    for (const control of noteForm.elements)
      control.disabled = !call.mayChangeNote;
    document.getElementById('btnSaveNote').hidden = !call.mayChangeNote;
  }

  function drawOutline() {
    const context = canvas.getContext('2d');
    const width = canvas.width = canvas.clientWidth || 800;
    const height = canvas.height;
    context.clearRect(0, 0, width, height);
    const played = audio.duration ? audio.currentTime / audio.duration : 0;
    for (let x = 0; x < width; ++x) {
      const first = Math.floor(x * peaks.length / width);
      const last = Math.max(first + 1, Math.floor((x + 1) * peaks.length / width));
      const peak = Math.max(0, ...peaks.slice(first, last));
      const half = Math.max(1, peak / 32768 * height / 2);
      context.fillStyle = x / width < played ? '#2f6fb3' : '#9bb8d6';
      context.fillRect(x, height / 2 - half, 1, half * 2);
    }
  }

  async function start() {
    if (!id) {
      sdvoice.showMessage('找不到这条录音');
      return;
    }
    const query = '?id=' + encodeURIComponent(id);
    try {
      showDetails(await sdvoice.get('/api/call', {id}));
    } catch (error) {
      sdvoice.showMessage(error.message);
      return;
    }
    audio.src = '/api/audio' + query;
    document.getElementById('downloadWav').href = '/api/download' + query + '&format=wav';
    document.getElementById('downloadMp3').href = '/api/download' + query + '&format=mp3';
    try {
      peaks = (await sdvoice.get('/api/outline', {id, points: 1024})).peaks;
      drawOutline();
    } catch (error) {
      canvas.hidden = true;
    }
  }

  canvas.addEventListener('click', (event) => {
    if (!audio.duration)
      return;
    const box = canvas.getBoundingClientRect();
    audio.currentTime = (event.clientX - box.left) / box.width * audio.duration;
  });
  audio.addEventListener('timeupdate', drawOutline);
  window.addEventListener('resize', drawOutline);
  noteForm.addEventListener('submit', async (event) => {
    event.preventDefault();
    try {
      const note = await sdvoice.post('/api/note', {
        id, description: noteForm.elements.description.value, userType: noteForm.elements.userType.value});
      noteForm.elements.userType.value = note.userType;
      sdvoice.showMessage('备注已保存');
    } catch (error) {
      sdvoice.showMessage(error.message);
    }
  });
  start();
})();
