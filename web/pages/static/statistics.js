'use strict';

// The statistics of the search the page was opened with, as the tables of "通话统计", and its
// charts drawn as wide as the page shows them, so that their text is not shrunk on a phone.
(async () => {
  const parameters = new URLSearchParams(window.location.search);
  document.getElementById('backToSearch').href = '/?' + parameters;
  const chart = document.getElementById('chart');
  chart.addEventListener('load', () => { chart.hidden = false; });
  const chartParameters = new URLSearchParams(parameters);
  chartParameters.set('width', Math.floor(document.querySelector('.chart-frame').clientWidth) || 1600);
  chart.src = '/api/statistics/chart?' + chartParameters;
  try {
    const figures = await sdvoice.get('/api/statistics', parameters);
    const fill = (id, table) => sdvoice.fillTable(document.getElementById(id), table.titles, table.rows);
    fill('totals', figures.totals);
    document.getElementById('periodTitle').textContent = figures.periodPart;
    fill('periods', figures.periods);
    fill('mostCalls', figures.mostCalls);
    fill('mostTalk', figures.mostTalk);
    sdvoice.showMessage(figures.periods.rows.length === 0 ? '没有可统计的语音' : '');
  } catch (error) {
    sdvoice.showMessage(error.message);
  }
})();
