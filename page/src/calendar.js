// Month calendar with ISO week numbers, Monday first, the days with recordings marked, and "Vandaag".
import { DayKey, IsoWeek } from './format.js';

const MonthNames = ['JANUARI', 'FEBRUARI', 'MAART', 'APRIL', 'MEI', 'JUNI', 'JULI', 'AUGUSTUS', 'SEPTEMBER',
  'OKTOBER', 'NOVEMBER', 'DECEMBER'];
const DayHeads = ['maa', 'din', 'woe', 'don', 'vri', 'zat', 'zon'];

export class TCalendar {
  // AElement: the empty container; AMarkedDays(AMonthKey "yyyy-mm") resolves to the day keys with
  // recordings; AOnSelect(ADayKey) is called when the user picks a day (and by GoToday).
  constructor(AElement, AMarkedDays, AOnSelect) {
    this.FElement = AElement;
    this.FMarkedDays = AMarkedDays;
    this.FOnSelect = AOnSelect;
    this.FSelected = DayKey(new Date());
    this.FDisplay = new Date();
    this.FDisplay.setDate(1);
    this.FMarked = new Set();
    this.FRequest = 0;
  }

  get SelectedDay() { return this.FSelected; }

  GoToday() { this.Select(DayKey(new Date())); }

  // Shows the month of ADayKey, selects it and tells the owner.
  Select(ADayKey) {
    const [year, month] = ADayKey.split('-').map(Number);
    this.FSelected = ADayKey;
    this.FDisplay = new Date(year, month - 1, 1);
    this.Refresh();
    this.FOnSelect(ADayKey);
  }

  MoveMonth(ADelta) {
    this.FDisplay = new Date(this.FDisplay.getFullYear(), this.FDisplay.getMonth() + ADelta, 1);
    this.Refresh();
  }

  // Draws the month at once, then again when its marked days have arrived (a later month wins).
  async Refresh() {
    this.Render();
    const request = ++this.FRequest;
    const monthKey = DayKey(this.FDisplay).slice(0, 7);
    try {
      const days = await this.FMarkedDays(monthKey);
      if (request !== this.FRequest) return;
      this.FMarked = new Set(days);
    } catch (error) {
      if (request !== this.FRequest) return;
      this.FMarked = new Set();
    }
    this.Render();
  }

  Render() {
    const display = this.FDisplay;
    const today = DayKey(new Date());
    const first = new Date(display.getFullYear(), display.getMonth(), 1);
    const offset = (first.getDay() + 6) % 7; // days of the previous month before the 1st
    const start = new Date(first.getFullYear(), first.getMonth(), 1 - offset);
    const root = document.createElement('div');
    const head = document.createElement('div');
    head.className = 'head';
    const previous = Button('\u2039', 'Vorige maand', () => this.MoveMonth(-1));
    previous.id = 'btnPrevMonth';
    const next = Button('\u203a', 'Volgende maand', () => this.MoveMonth(1));
    next.id = 'btnNextMonth';
    const title = document.createElement('span');
    title.id = 'lblMonth';
    title.textContent = `${MonthNames[display.getMonth()]} ${display.getFullYear()}`;
    head.append(previous, title, next);
    const table = document.createElement('table');
    const headRow = table.createTHead().insertRow();
    headRow.appendChild(document.createElement('th'));
    for (const name of DayHeads) {
      const cell = document.createElement('th');
      cell.textContent = name;
      headRow.appendChild(cell);
    }
    const body = table.createTBody();
    for (let week = 0; week < 6; week++) {
      const row = body.insertRow();
      const monday = new Date(start.getFullYear(), start.getMonth(), start.getDate() + week * 7);
      const weekCell = row.insertCell();
      weekCell.className = 'week';
      weekCell.textContent = IsoWeek(monday);
      for (let weekday = 0; weekday < 7; weekday++) {
        const day = new Date(monday.getFullYear(), monday.getMonth(), monday.getDate() + weekday);
        const key = DayKey(day);
        const button = Button(String(day.getDate()), key, () => this.Select(key));
        button.dataset.day = key;
        if (day.getMonth() !== display.getMonth()) button.classList.add('other');
        if (this.FMarked.has(key)) button.classList.add('has');
        if (key === today) button.classList.add('today');
        if (key === this.FSelected) button.classList.add('sel');
        row.insertCell().appendChild(button);
      }
    }
    const foot = document.createElement('div');
    foot.className = 'foot';
    const todayButton = Button('Vandaag', 'Vandaag', () => this.GoToday());
    todayButton.id = 'btnToday';
    foot.appendChild(todayButton);
    root.append(head, table, foot);
    this.FElement.replaceChildren(root);
  }
}

function Button(ACaption, ATitle, AOnClick) {
  const button = document.createElement('button');
  button.type = 'button';
  button.textContent = ACaption;
  button.title = ATitle;
  button.addEventListener('click', AOnClick);
  return button;
}
