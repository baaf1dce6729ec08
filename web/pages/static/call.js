'use strict';

// A call: its details, the player with the loudness outline (a click on it seeks there), the
// downloads and the note, which accounts allowed to change notes can save. Opening the page
// fetches no sound: the audio is first asked for when it is played, which is when the server logs
// the listening. "返回查询" leads back to the search and page the call was opened from.
(() => {
  const asked = new URLSearchParams(window.location.search);
  const id = asked.get('id') || '';
  const durationColumn = 5;
  const audio = document.getElementById('audio');
  const canvas = document.getElementById('outline');
  const noteForm = document.getElementById('noteForm');
  let peaks = [];
  let pendingSeek = null; // where a click on the outline asked to play from, before the sound was loaded
  const realDuration = sdvoice.element('td', '播放后显示');
  realDuration.id = 'realDuration';

  // Seconds as the list writes a duration: "5秒", "3分钟5秒", "1小时0分钟5秒".
  function durationText(seconds) {
    const whole = Math.round(seconds);
    const [h, m, s] = [Math.floor(whole / 3600), Math.floor(whole / 60) % 60, whole % 60];
    if (h > 0)
      return h + '小时' + m + '分钟' + s + '秒';
    return m > 0 ? m + '分钟' + s + '秒' : s + '秒';
  }

  function showDetails(call) {
    const body = document.querySelector('#details tbody');
    body.replaceChildren();
    call.columns.forEach((title, column) => {
      if (column === 0)
        return; // the number is the row's place in a list, not the call's
      // The list's duration follows from the file's size; the sound's own length is known once it is loaded.
      const line = body.insertRow();
      line.appendChild(sdvoice.element('th', column === durationColumn ? title + '（按文件大小）' : title));
      line.insertCell().textContent = call.texts[column];
      if (column === durationColumn) {
        const real = body.insertRow();
        real.appendChild(sdvoice.element('th', '实际时长'));
        real.appendChild(realDuration);
      }
    });
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
    if (asked.has('back'))
      document.getElementById('backToSearch').href = '/?' + new URLSearchParams(asked.get('back'));
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
    const box = canvas.getBoundingClientRect();
    const share = (event.clientX - box.left) / box.width;
    if (audio.duration) {
      audio.currentTime = share * audio.duration;
    } else {
      pendingSeek = share;
      audio.play().catch(() => {});
    }
  });
  audio.addEventListener('loadedmetadata', () => {
    realDuration.textContent = durationText(audio.duration);
    if (pendingSeek !== null)
      audio.currentTime = pendingSeek * audio.duration;
    pendingSeek = null;
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
