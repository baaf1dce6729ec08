'use strict';

// What every page shares: asking the server, the account line and logging out.
const sdvoice = {
  session: null,

  // The JSON answer of a GET; a request without a session goes back to the login page.
  async get(path, parameters) {
    const query = parameters ? '?' + new URLSearchParams(parameters) : '';
    const response = await fetch(path + query, {credentials: 'same-origin', headers: {Accept: 'application/json'}});
    return sdvoice.answer(response);
  },

  // A change, sent as a form with the session's CSRF token.
  async post(path, fields) {
    const session = await sdvoice.currentSession();
    const response = await fetch(path, {
      method: 'POST',
      credentials: 'same-origin',
      headers: {'Content-Type': 'application/x-www-form-urlencoded', 'X-CSRF-Token': session.csrf || ''},
      body: new URLSearchParams(fields),
    });
    return sdvoice.answer(response);
  },

  async answer(response) {
    if (response.status === 401) {
      window.location.assign('/login');
      throw new Error('请先登录');
    }
    const body = await response.json().catch(() => ({}));
    if (!response.ok)
      throw new Error(body.error || ('请求失败：' + response.status));
    return body;
  },

  async currentSession() {
    if (!sdvoice.session)
      sdvoice.session = await sdvoice.get('/api/session');
    return sdvoice.session;
  },

  element(tag, text, className) {
    const element = document.createElement(tag);
    if (text !== undefined)
      element.textContent = text;
    if (className)
      element.className = className;
    return element;
  },

  showMessage(text) {
    document.getElementById('message').textContent = text || '';
  },

  // A table of titles and rows of texts.
  fillTable(table, titles, rows) {
    table.replaceChildren();
    const head = table.createTHead().insertRow();
    for (const title of titles)
      head.appendChild(sdvoice.element('th', title));
    const body = table.createTBody();
    for (const row of rows) {
      const line = body.insertRow();
      for (const text of row)
        line.insertCell().textContent = text;
    }
  },

  async showAccount() {
    const place = document.getElementById('account');
    try {
      const session = await sdvoice.currentSession();
      place.replaceChildren(sdvoice.element('span', session.account, 'account-name'));
      const logout = sdvoice.element('button', '退出登录');
      logout.id = 'btnLogout';
      logout.type = 'button';
      logout.addEventListener('click', async () => {
        await sdvoice.post('/logout', {}).catch(() => {});
        window.location.assign('/login');
      });
      place.appendChild(logout);
    } catch (error) {
      sdvoice.showMessage(error.message);
    }
  },
};

document.addEventListener('DOMContentLoaded', () => sdvoice.showAccount());
