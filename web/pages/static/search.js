'use strict';

// The search page: the filters of the search window, results a page at a time, sorted by a
// click on a column title (a second click on the same column reverses the order). The search
// and its page stay in the address, so that a call or the statistics lead back to them.
(() => {
  const pageRows = 50;
  const form = document.getElementById('searchForm');
  const criteriaNames = ['folder', 'from', 'to', 'mode', 'phone', 'userType', 'description'];
  let state = {page: 1, sort: '', order: 'asc'};
  let columns = [];
  const noteColumns = ['用户类型', '录音说明'];

  function allColumns() {
    return [...columns, ...noteColumns];
  }

  function today() {
    const now = new Date();
    const pad = (value) => String(value).padStart(2, '0');
    return now.getFullYear() + '-' + pad(now.getMonth() + 1) + '-' + pad(now.getDate());
  }

  function criteria() {
    const values = {};
    for (const name of criteriaNames)
      values[name] = form.elements[name].value;
    return values;
  }

  // A folder by its own name, never by where it lies on the desk.
  function folderName(folder) {
    return folder.name || (folder.path || '').replace(/\/+$/, '').split('/').pop();
  }

  function fillSelect(select, items) {
    for (const [value, text] of items) {
      const option = sdvoice.element('option', text);
      option.value = value;
      select.appendChild(option);
    }
  }

  function showColumns() {
    const row = document.getElementById('columns');
    row.replaceChildren();
    columns.forEach((title, column) => {
      const arrow = String(column) === state.sort ? (state.order === 'asc' ? ' ▲' : ' ▼') : '';
      const cell = sdvoice.element('th', title + arrow, 'column-' + column);
      cell.addEventListener('click', () => {
        state.order = String(column) === state.sort && state.order === 'asc' ? 'desc' : 'asc';
        state.sort = String(column);
        state.page = 1;
        search();
      });
      row.appendChild(cell);
    });
    noteColumns.forEach((title, i) => row.appendChild(sdvoice.element('th', title, 'column-' + (columns.length + i))));
  }

  // The address of the search shown: its criteria, order and page.
  function searchQuery() {
    return new URLSearchParams({...criteria(), sort: state.sort, order: state.order, page: state.page});
  }

  function callAddress(row) {
    return '/call?' + new URLSearchParams({id: row.id, back: searchQuery().toString()});
  }

  // A row's texts, then its note's user type and the first line of its description; each cell
  // knows its title, which names it on a phone, where the rows are cards.
  function showRows(answer) {
    const body = document.querySelector('#results tbody');
    body.replaceChildren();
    for (const row of answer.rows) {
      const line = body.insertRow();
      const texts = [...row.texts, row.userType || '', (row.description || '').split('\n')[0]];
      texts.forEach((text, column) => {
        const cell = line.insertCell();
        cell.className = 'column-' + column;
        cell.dataset.title = allColumns()[column];
        if (column === 1) {
          const link = sdvoice.element('a', text);
          link.href = callAddress(row);
          cell.appendChild(link);
        } else {
          cell.textContent = text;
        }
      });
      line.addEventListener('click', (event) => {
        if (event.target.tagName !== 'A')
          window.location.assign(callAddress(row));
      });
    }
    const pages = Math.max(1, Math.ceil(answer.total / pageRows));
    document.getElementById('pageText').textContent = '共 ' + answer.total + ' 条，第 ' + state.page + '/' + pages + ' 页';
    document.getElementById('previousPage').disabled = state.page <= 1;
    document.getElementById('nextPage').disabled = state.page >= pages;
    sdvoice.showMessage(answer.total === 0 ? '没有找到语音' : '');
  }

  async function search() {
    const values = criteria();
    const parameters = {...values, page: state.page, pageSize: pageRows};
    if (state.sort !== '')
      Object.assign(parameters, {sort: state.sort, order: state.order});
    history.replaceState(null, '', '/?' + searchQuery());
    document.getElementById('statisticsLink').href = '/statistics?' + searchQuery();
    showColumns();
    sdvoice.showMessage('正在检索...');
    try {
      showRows(await sdvoice.get('/api/search', parameters));
    } catch (error) {
      document.querySelector('#results tbody').replaceChildren();
      sdvoice.showMessage(error.message);
    }
  }

  async function start() {
    let offer;
    try {
      offer = await sdvoice.get('/api/search-form');
    } catch (error) {
      sdvoice.showMessage(error.message);
      return;
    }
    columns = offer.columns;
    fillSelect(form.elements.folder, offer.folders.map((folder) => [folder.key, folderName(folder)]));
    fillSelect(form.elements.mode, offer.modes.map((mode, i) => [i === 0 ? '' : mode, mode]));
    fillSelect(document.getElementById('userTypes'), offer.userTypes.map((type) => [type, type]));
    const asked = new URLSearchParams(window.location.search);
    form.elements.from.value = today();
    form.elements.to.value = today();
    for (const name of criteriaNames)
      if (asked.has(name))
        form.elements[name].value = asked.get(name);
    state = {page: Number(asked.get('page')) || 1, sort: asked.get('sort') || '', order: asked.get('order') || 'asc'};
    showColumns();
    if (asked.has('from'))
      search();
  }

  form.addEventListener('submit', (event) => {
    event.preventDefault();
    state.page = 1;
    search();
  });
  document.getElementById('previousPage').addEventListener('click', () => { state.page -= 1; search(); });
  document.getElementById('nextPage').addEventListener('click', () => { state.page += 1; search(); });
  start();
})();
