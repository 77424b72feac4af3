// The reader's page: login, calendar and hour tiles, search, the waveform with transport, export, the
// title and persons editor and the access log, on the server's API.
import { Api, EApiError } from './api.js';
import { TCalendar } from './calendar.js';
import { TWave } from './wave.js';
import { TStreamedMedia } from './streamed.js';
import { EnvelopeFromAnswer } from './envelope.js';
import { DayDisplay, FormatClock, FormatDuration, HourCaption, PickCaption, RecParts, SelectionText } from './format.js';

const Roles = ['listen', 'export', 'edit', 'admin'];
// The media type of a recording's file by its extension, as the server sends it.
const MediaTypes = {
  wav: 'audio/wav', mp3: 'audio/mpeg', ogg: 'audio/ogg', oga: 'audio/ogg', opus: 'audio/ogg; codecs=opus',
  flac: 'audio/flac', m4a: 'audio/mp4', aac: 'audio/mp4', wma: 'audio/x-ms-wma', ac3: 'audio/ac3',
};

const Byid = (AId) => document.getElementById(AId);
const Reader = {
  FUser: '', FRole: '', FCurrent: null, FCalendar: null, FWave: null, FTiles: [], FClockFrame: 0,
  // What plays: the <audio> element itself, or a TStreamedMedia on it for a codec the browser does not play.
  FMedia: null,
  // The recording being loaded (its id, whether the browser turned its codec down, its element listeners); a
  // newer load replaces it.
  FLoad: null,
  // Moments of the last load, for the page's timing figures (performance.now() milliseconds).
  FTimings: {},
};
window.vornakReader = Reader; // for the browser tests and the timing figures

function Media() { return Reader.FMedia || Byid('player'); }

function RoleAtLeast(ARole) { return Roles.indexOf(Reader.FRole) >= Roles.indexOf(ARole); }

function SetStatus(AText) { Byid('lblStatus').textContent = AText; }

function ShowError(AError) {
  if (AError instanceof EApiError && AError.Status === 401) { ShowLogin(); return; }
  SetStatus(AError.message || String(AError));
}

// ---- login ----

function ShowLogin() {
  StopPlayback();
  Byid('viewMain').hidden = true;
  Byid('viewLogin').hidden = false;
  Byid('edPassword').value = '';
  Byid('edUser').focus();
}

function ShowMain() {
  Byid('viewLogin').hidden = true;
  Byid('viewMain').hidden = false;
  Byid('lblUser').textContent = `${Reader.FUser} (${Reader.FRole})`;
  Byid('btnExportOpen').hidden = !RoleAtLeast('export');
  Byid('btnMetaOpen').hidden = !RoleAtLeast('edit');
  Byid('btnLogOpen').hidden = !RoleAtLeast('admin');
  if (!Reader.FWave) {
    Reader.FWave = new TWave(Byid('wave'), Byid('overview'), Media(), SelectionChanged);
  }
  Reader.FCalendar.GoToday();
}

function RetryText(ASeconds) {
  const at = new Date(Date.now() + ASeconds * 1000);
  const two = (AValue) => String(AValue).padStart(2, '0');
  return `Te veel mislukte aanmeldingen. Probeer het opnieuw om ${two(at.getHours())}:${two(at.getMinutes())} ` +
    `(over ${Math.ceil(ASeconds / 60)} min).`;
}

async function LoginSubmit(AEvent) {
  AEvent.preventDefault();
  const errorLabel = Byid('lblLoginError');
  errorLabel.textContent = '';
  Reader.FTimings.LoginStart = performance.now();
  try {
    const answer = await Api('/api/login', { method: 'POST', body: { user: Byid('edUser').value, password: Byid('edPassword').value } });
    Reader.FUser = answer.user;
    Reader.FRole = answer.role;
    ShowMain();
  } catch (error) {
    if (error instanceof EApiError && error.Status === 429 && error.RetryAfter > 0) errorLabel.textContent = RetryText(error.RetryAfter);
    else errorLabel.textContent = error.message;
  }
}

async function Logout() {
  try { await Api('/api/logout', { method: 'POST', body: {} }); } catch (error) { /* the session is gone either way */ }
  Reader.FCurrent = null;
  ShowLogin();
}

// ---- calendar and hour tiles ----

function MakeTiles() {
  const host = Byid('tiles');
  for (let hour = 0; hour < 24; hour++) {
    const tile = document.createElement('button');
    tile.type = 'button';
    tile.id = `tileHour${hour}`;
    tile.textContent = HourCaption(hour);
    tile.disabled = true;
    tile.addEventListener('click', () => HourTileClick(hour));
    host.appendChild(tile);
    Reader.FTiles.push(tile);
  }
}

function ClearHourSelection() { for (const tile of Reader.FTiles) tile.classList.remove('sel'); }

async function CalendarSelect(ADayKey) {
  ClearHourSelection();
  try {
    const answer = await Api(`/api/hours?date=${ADayKey}`);
    if (Reader.FCalendar.SelectedDay !== ADayKey) return;
    const hours = new Set(answer.hours);
    let count = 0;
    Reader.FTiles.forEach((ATile, AHour) => { ATile.disabled = !hours.has(AHour); if (hours.has(AHour)) count++; });
    SetStatus(`${DayDisplay(ADayKey)} - ${count} opname-uur/uren beschikbaar. Kies een uur.`);
    if (Reader.FTimings.LoginStart !== undefined && Reader.FTimings.CalendarShown === undefined) {
      Reader.FTimings.CalendarShown = performance.now();
    }
  } catch (error) {
    ShowError(error);
  }
}

async function HourTileClick(AHour) {
  const day = Reader.FCalendar.SelectedDay;
  Reader.FTimings.HourClick = performance.now();
  Reader.FTimings.SoundReady = undefined;
  try {
    const answer = await Api(`/api/recordings?date=${day}&hour=${AHour}`);
    const list = answer.recordings;
    if (list.length === 0) { SetStatus('Geen geldige opname voor dit uur.'); return; }
    const choice = list.length === 1 ? list[0] : await Pick(list, PickCaption(day, AHour, list.length));
    if (!choice) return;
    ClearHourSelection();
    Reader.FTiles[AHour].classList.add('sel');
    await LoadRecording(choice);
  } catch (error) {
    ShowError(error);
  }
}

// A modal list of recordings; resolves to the chosen one, or null when cancelled.
function Pick(AList, ACaption) {
  return ChooseFromList(Byid('dlgPick'), Byid('lvItems'), Byid('btnPickOk'), AList,
    (ARec) => [RecParts(ARec).Number ?? '', ARec.format, ARec.title, ARec.persons, FormatDuration(ARec.duration_sec)],
    () => { Byid('lblPickInfo').textContent = ACaption; }, true);
}

function ChooseFromList(ADialog, ABody, AOkButton, AList, ACells, ABeforeShow, ASelectFirst) {
  return new Promise((AResolve) => {
    let chosen = -1;
    ABeforeShow();
    ABody.replaceChildren();
    const rows = AList.map((ARec, AIndex) => {
      const row = ABody.insertRow();
      for (const text of ACells(ARec)) row.insertCell().textContent = text ?? '';
      row.addEventListener('click', () => { choose(AIndex); });
      row.addEventListener('dblclick', () => { choose(AIndex); ADialog.close('ok'); });
      return row;
    });
    function choose(AIndex) {
      chosen = AIndex;
      rows.forEach((ARow, AOther) => ARow.classList.toggle('sel', AOther === AIndex));
      AOkButton.disabled = AIndex < 0;
    }
    choose(ASelectFirst && AList.length > 0 ? 0 : -1);
    ADialog.addEventListener('close', () => {
      AResolve(ADialog.returnValue === 'ok' && chosen >= 0 ? AList[chosen] : null);
    }, { once: true });
    ADialog.returnValue = '';
    if (!ADialog.open) ADialog.showModal();
  });
}

// The length in seconds of a recording's details answer.
function Seconds(AInfo) {
  const rate = AInfo.sample_rate ?? AInfo.samplerate ?? AInfo.rate;
  return Number(AInfo.seconds ?? AInfo.duration ?? (AInfo.frames && rate ? AInfo.frames / rate : AInfo.duration_sec));
}

// ---- loading and playback ----

function MediaTypeOf(ARec) {
  const dot = String(ARec.filename || '').lastIndexOf('.');
  const ext = dot >= 0 ? ARec.filename.slice(dot + 1).toLowerCase() : String(ARec.format || '').toLowerCase();
  return MediaTypes[ext] || '';
}

// Plays ALoad's recording from the server's Opus stream (its codec is one the browser does not play).
function UseStream(ALoad) {
  const stream = new TStreamedMedia(Byid('player'),
    (AStartSec) => `/api/recordings/${ALoad.Id}/audio?as=opus&start=${AStartSec.toFixed(3)}`, ALoad.Duration);
  stream.addEventListener('seeked', UpdateClock);
  stream.addEventListener('play', ClockStart);
  Reader.FMedia = stream;
  Reader.FWave.UseMedia(stream);
  stream.preservesPitch = true;
  stream.playbackRate = Number(Byid('cbSpeed').value);
}

// Back to the <audio> element itself (a stream of an earlier recording lets it go).
function UseElement() {
  if (Reader.FMedia && Reader.FMedia !== Byid('player')) Reader.FMedia.Close();
  Reader.FMedia = Byid('player');
  Reader.FWave.UseMedia(Reader.FMedia);
}

// Asks for the sound of ARec at once, before its details and peaks: the media element reads the file's start
// while those come in and the waveform is drawn, so that Play is heard at once. A codec the browser turns
// down inside a container it knows (ADPCM or A-law in WAV, …) goes to the server's Opus stream.
function StartSound(ARec, ALoad) {
  const player = Byid('player');
  player.pause();
  UseElement();
  const mediaType = MediaTypeOf(ARec);
  if (!mediaType || player.canPlayType(mediaType) === '') {
    ALoad.Refused = true;
    player.removeAttribute('src');
    player.load();
    return;
  }
  player.addEventListener('error', () => {
    if (Reader.FLoad !== ALoad || !player.error || player.error.code < MediaError.MEDIA_ERR_DECODE) return;
    ALoad.Refused = true;
    if (ALoad.Duration > 0) UseStream(ALoad); // else once the details give the length
  }, { once: true, signal: ALoad.Listening.signal });
  player.addEventListener('canplay', () => {
    if (Reader.FLoad === ALoad) Reader.FTimings.SoundReady = performance.now();
  }, { once: true, signal: ALoad.Listening.signal });
  player.src = new URL(`/api/recordings/${ARec.id}/audio`, document.baseURI).href;
}

// Loads ARec (a row of the recordings list: id, filename, format).
async function LoadRecording(ARec) {
  SetStatus('Opname laden (een opname die nog niet geanalyseerd is, kost even tijd)...');
  const started = performance.now();
  if (Reader.FLoad) Reader.FLoad.Listening.abort(); // the earlier load's element listeners go
  const load = { Id: ARec.id, Refused: false, Duration: 0, Listening: new AbortController() };
  Reader.FLoad = load;
  StartSound(ARec, load);
  UpdateClock();
  let info, peaks;
  try {
    [info, peaks] = await Promise.all([Api(`/api/recordings/${ARec.id}`), Api(`/api/recordings/${ARec.id}/peaks`)]);
  } catch (error) {
    // The previous recording stays in view, but its sound is gone already: Play does nothing, as in the reader.
    if (Reader.FLoad === load) {
      Byid('player').removeAttribute('src');
      Byid('player').load();
      Reader.FCurrent = null;
    }
    throw error;
  }
  if (Reader.FLoad !== load) return; // another recording was chosen meanwhile
  Reader.FTimings.Fetched = performance.now();
  const duration = Seconds(info);
  load.Duration = duration;
  Reader.FCurrent = info;
  const envelope = EnvelopeFromAnswer(peaks);
  Reader.FTimings.Prepared = performance.now();
  if (load.Refused && Reader.FMedia === Byid('player')) UseStream(load);
  const media = Media();
  media.preservesPitch = true;
  media.playbackRate = Number(Byid('cbSpeed').value);
  await Reader.FWave.Load(media.src, envelope, duration);
  Reader.FTimings.WaveDrawn = performance.now();
  Reader.FTimings.LoadMs = Reader.FTimings.WaveDrawn - started;
  document.title = `${info.filename} - Vornak Reader 2026`;
  let status = `${info.filename}  -  duur ${FormatDuration(duration)}`;
  const extra = [info.title, info.persons].map((AText) => (AText || '').trim()).filter((AText) => AText).join(' ');
  if (extra) status += `  -  ${extra.replace(/\s*\n\s*/g, ', ')}`;
  SetStatus(status);
  UpdateClock();
}

// Where the sound is, or where it is going once a seek completes.
function Position() { return (Reader.FWave ? Reader.FWave.Surfer.getCurrentTime() : Media().currentTime) || 0; }

function UpdateClock() { Byid('lblClock').textContent = FormatClock(Position()); }

function ClockLoop() {
  UpdateClock();
  const timings = Reader.FTimings;
  if (timings.PlayClick !== undefined && timings.ClockMoved === undefined && Position() > timings.PlayFrom) {
    timings.ClockMoved = performance.now();
  }
  Reader.FClockFrame = Media().paused ? 0 : requestAnimationFrame(ClockLoop);
}

function ClockStart() { if (!Reader.FClockFrame) Reader.FClockFrame = requestAnimationFrame(ClockLoop); }

function Play() {
  if (!Reader.FCurrent) return;
  Reader.FTimings.PlayClick = performance.now();
  Reader.FTimings.PlayFrom = Position();
  Reader.FTimings.ClockMoved = undefined;
  Media().play().catch((AError) => SetStatus(`Afspelen lukt niet: ${AError.message}`));
}

function Pause() { Media().pause(); }

function StopPlayback() {
  const media = Media();
  media.pause();
  if (media.src && media.currentTime > 0) media.currentTime = 0;
  UpdateClock();
}

function Seek(ASec) {
  if (!Reader.FCurrent) return;
  const duration = Reader.FWave.Duration;
  Reader.FWave.Surfer.setTime(Math.max(0, Math.min(duration, ASec)));
  UpdateClock();
}

function SelectionChanged(AStart, AEnd) {
  if (AStart >= 0 && AEnd > AStart) SetStatus(SelectionText(AStart, AEnd));
}

function KeyDown(AEvent) {
  if (Byid('viewMain').hidden || document.querySelector('dialog[open]')) return;
  const target = AEvent.target;
  if (target.closest && target.closest('input, textarea, select')) return;
  const step = AEvent.ctrlKey ? 30 : AEvent.shiftKey ? 1 : 5;
  switch (AEvent.key) {
    case ' ': Media().paused ? Play() : Pause(); break;
    case 'Home': Seek(0); break;
    case 'End': Seek(Reader.FWave ? Reader.FWave.Duration : 0); break;
    case 'ArrowLeft': Seek(Position() - step); break;
    case 'ArrowRight': Seek(Position() + step); break;
    default: return;
  }
  AEvent.preventDefault();
}

// ---- export ----

function OpenExport() {
  if (!Reader.FCurrent) { SetStatus('Geen opname geladen.'); return; }
  const selection = Reader.FWave.Selection();
  Byid('rbSel').disabled = !selection;
  Byid('lblSelRange').textContent = selection
    ? `Selectie  (${FormatDuration(selection.Start)} - ${FormatDuration(selection.End)})`
    : 'Selectie  (geen selectie gemaakt)';
  (selection ? Byid('rbSel') : Byid('rbAll')).checked = true;
  FormatChanged();
  Byid('dlgExport').showModal();
}

function FormatChanged() { Byid('cbBitrate').disabled = Byid('cbFormat').value === 'wav'; }

// The export's address for the dialog's choices (the server makes the clip; the browser downloads it).
function ExportUrl() {
  const selection = Reader.FWave.Selection();
  const params = new URLSearchParams();
  const useSelection = Byid('rbSel').checked && selection;
  params.set('start', useSelection ? selection.Start.toFixed(3) : '0');
  params.set('end', useSelection ? selection.End.toFixed(3) : String(Reader.FWave.Duration));
  params.set('format', Byid('cbFormat').value);
  if (Byid('cbFormat').value !== 'wav') params.set('bitrate', Byid('cbBitrate').value);
  if (Byid('cbLoudness').value) params.set('loudness', Byid('cbLoudness').value);
  if (Byid('cbEvidence').checked) params.set('record', '1');
  return `/api/recordings/${Reader.FCurrent.id}/export?${params}`;
}

function ExportClose() {
  if (Byid('dlgExport').returnValue !== 'ok') return;
  const link = document.createElement('a');
  link.href = ExportUrl();
  link.download = '';
  document.body.appendChild(link);
  link.click();
  link.remove();
  SetStatus('Export gestart; het bestand komt binnen als download.');
}

// ---- title and persons ----

function OpenMeta() {
  if (!Reader.FCurrent) { SetStatus('Geen opname geladen.'); return; }
  Byid('edTitle').value = Reader.FCurrent.title || '';
  Byid('mmPersons').value = Reader.FCurrent.persons || '';
  Byid('lblMetaError').textContent = '';
  Byid('dlgMeta').showModal();
}

async function MetaSubmit(AEvent) {
  if (AEvent.submitter && AEvent.submitter.value !== 'ok') return;
  AEvent.preventDefault();
  const title = Byid('edTitle').value.replace(/^[\x00-\x20]+|[\x00-\x20]+$/g, '');
  const persons = Byid('mmPersons').value.replace(/^[\x00-\x20]+|[\x00-\x20]+$/g, '');
  try {
    await Api(`/api/recordings/${Reader.FCurrent.id}/meta`, { method: 'PUT', body: { title, persons } });
    Reader.FCurrent.title = title;
    Reader.FCurrent.persons = persons;
    Byid('dlgMeta').close('ok');
    SetStatus('Gegevens opgeslagen.');
  } catch (error) {
    if (error instanceof EApiError && error.Status === 401) { Byid('dlgMeta').close(); ShowLogin(); return; }
    Byid('lblMetaError').textContent = error.message;
  }
}

// ---- search ----

function OpenSearch() {
  const hours = Byid('cbDbHour');
  if (!hours.options.length) {
    for (let hour = 0; hour < 24; hour++) hours.add(new Option(String(hour).padStart(2, '0'), String(hour)));
  }
  hours.value = String(new Date().getHours());
  Byid('dtpDbDate').value = Reader.FCalendar.SelectedDay;
  Byid('lblSearchInfo').textContent = '';
  Byid('lvResults').replaceChildren();
  Byid('btnSearchOk').disabled = true;
  Byid('dlgSearch').showModal();
}

async function SearchOpen(AQuery, AMessage) {
  const answer = await Api(`/api/search?${AQuery}`);
  return answer.recordings.length ? answer.recordings : (Byid('lblSearchInfo').textContent = AMessage, []);
}

async function FindFile() {
  const stem = Byid('edStem').value.trim();
  try {
    const list = await SearchOpen(`stem=${encodeURIComponent(stem)}`, `Geen geldige opname gevonden voor bestandsnaam ${stem}.`);
    if (list.length) { Byid('dlgSearch').close('cancel'); await OpenFound(list[0]); }
  } catch (error) {
    Byid('lblSearchInfo').textContent = error.message;
  }
}

async function SearchDb() {
  const params = new URLSearchParams();
  if (Byid('chkDate').checked) params.set('date', Byid('dtpDbDate').value);
  if (Byid('chkHour').checked) params.set('hour', Byid('cbDbHour').value);
  params.set('name', Byid('edName').value.trim());
  Byid('lblSearchInfo').textContent = '';
  try {
    const list = await SearchOpen(params.toString(), 'Geen opnames gevonden met deze criteria.');
    const dialog = Byid('dlgSearch');
    const chosen = await ChooseFromList(dialog, Byid('lvResults'), Byid('btnSearchOk'), list,
      (ARec) => {
        const parts = RecParts(ARec);
        return [parts.Day ?? '', parts.Hour !== undefined ? `${String(parts.Hour).padStart(2, '0')}:00` : '',
          parts.Number ?? '', ARec.format, ARec.title, ARec.persons, FormatDuration(ARec.duration_sec)];
      },
      () => {}, false);
    if (chosen) await OpenFound(chosen);
  } catch (error) {
    Byid('lblSearchInfo').textContent = error.message;
  }
}

// Opens a found recording as the reader does: its day in the calendar, its hour marked.
async function OpenFound(ARec) {
  const { Day: day, Hour: hour } = RecParts(ARec);
  if (day) Reader.FCalendar.Select(day);
  ClearHourSelection();
  if (hour !== undefined && Reader.FTiles[hour]) Reader.FTiles[hour].classList.add('sel');
  try { await LoadRecording(ARec); } catch (error) { ShowError(error); }
}

// ---- access log ----

function OpenLog() {
  const today = Reader.FCalendar.SelectedDay;
  if (!Byid('dtpLogFrom').value) Byid('dtpLogFrom').value = today;
  if (!Byid('dtpLogTo').value) Byid('dtpLogTo').value = today;
  Byid('dlgLog').showModal();
  ShowLog();
}

// An access log time (ISO 8601) as "dd-mm-jjjj uu:mm:ss" on this computer's clock.
function LogTime(AIso) {
  const moment = new Date(AIso);
  if (Number.isNaN(moment.getTime())) return AIso ?? '';
  const two = (AValue) => String(AValue).padStart(2, '0');
  return `${two(moment.getDate())}-${two(moment.getMonth() + 1)}-${moment.getFullYear()} ` +
    `${two(moment.getHours())}:${two(moment.getMinutes())}:${two(moment.getSeconds())}`;
}

// The access log's actions as the page shows them (the log file keeps its own codes).
const ActionTexts = {
  login: 'aanmelden', login_failed: 'aanmelden mislukt', logout: 'afmelden', search: 'zoeken',
  listen: 'luisteren', peaks: 'golfvorm', export: 'exporteren', edit: 'bewerken', denied: 'geweigerd',
};

async function ShowLog() {
  const params = new URLSearchParams({ from: Byid('dtpLogFrom').value, to: Byid('dtpLogTo').value });
  const body = Byid('lvLog');
  try {
    const answer = await Api(`/api/access-log?${params}`);
    const entries = Array.isArray(answer) ? answer : (answer.entries || answer.lines || []);
    body.replaceChildren();
    for (const entry of entries) {
      const row = body.insertRow();
      for (const key of ['time', 'user', 'address', 'action', 'id', 'start', 'end', 'format', 'status']) {
        const cell = row.insertCell();
        cell.textContent = key === 'time' ? LogTime(entry.time) : key === 'action' ? ActionTexts[entry.action] ?? entry.action
          : entry[key] ?? '';
        if (key === 'action') cell.dataset.action = entry.action;
      }
    }
    Byid('lblLogInfo').textContent = `${entries.length} regel(s).`;
  } catch (error) {
    Byid('lblLogInfo').textContent = error.message;
  }
}

// ---- start ----

async function Start() {
  Reader.ExportUrl = ExportUrl;
  MakeTiles();
  Reader.FCalendar = new TCalendar(Byid('calendar'),
    async (AMonth) => (await Api(`/api/days?month=${AMonth}`)).days, CalendarSelect);
  Byid('frmLogin').addEventListener('submit', LoginSubmit);
  Byid('btnLogout').addEventListener('click', Logout);
  Byid('btnPlay').addEventListener('click', Play);
  Byid('btnPause').addEventListener('click', Pause);
  Byid('btnStop').addEventListener('click', StopPlayback);
  Byid('cbSpeed').addEventListener('change', () => {
    const media = Media();
    media.preservesPitch = true;
    media.playbackRate = Number(Byid('cbSpeed').value);
  });
  Byid('btnZoomIn').addEventListener('click', () => Reader.FWave && Reader.FWave.ZoomBy(2));
  Byid('btnZoomOut').addEventListener('click', () => Reader.FWave && Reader.FWave.ZoomBy(0.5));
  Byid('btnZoomAll').addEventListener('click', () => Reader.FWave && Reader.FWave.ZoomAll());
  Byid('btnZoomSel').addEventListener('click', () => Reader.FWave && Reader.FWave.ZoomSelection());
  Byid('btnExportOpen').addEventListener('click', OpenExport);
  Byid('cbFormat').addEventListener('change', FormatChanged);
  Byid('dlgExport').addEventListener('close', ExportClose);
  Byid('btnMetaOpen').addEventListener('click', OpenMeta);
  Byid('frmMeta').addEventListener('submit', MetaSubmit);
  Byid('btnSearchOpen').addEventListener('click', OpenSearch);
  Byid('btnFindFile').addEventListener('click', FindFile);
  Byid('btnSearchDb').addEventListener('click', SearchDb);
  Byid('btnLogOpen').addEventListener('click', OpenLog);
  Byid('btnLogShow').addEventListener('click', ShowLog);
  const player = Byid('player');
  player.addEventListener('play', ClockStart);
  player.addEventListener('seeked', UpdateClock);
  document.addEventListener('keydown', KeyDown);
  // Space on a focused button would click it as well (on key release): the transport key alone counts.
  document.addEventListener('keyup', (AEvent) => {
    if (AEvent.key === ' ' && !Byid('viewMain').hidden && !document.querySelector('dialog[open]') &&
        AEvent.target.closest && AEvent.target.closest('button')) AEvent.preventDefault();
  });
  // A session that is still valid (a reload, a second tab) goes straight to the calendar.
  try {
    const answer = await Api('/api/session');
    Reader.FUser = answer.user;
    Reader.FRole = answer.role;
    ShowMain();
  } catch (error) {
    ShowLogin();
  }
}

Start();
