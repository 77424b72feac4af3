// Texts the reader shows for times and dates, in the reader's own patterns.

// Whole seconds: "mm:ss" below one hour, "h:mm:ss" from one hour on (the reader's FormatDuration).
export function FormatDuration(ASec) {
  const total = Math.max(0, Math.floor(ASec + 1e-9));
  const hours = Math.floor(total / 3600);
  const minutes = Math.floor((total % 3600) / 60);
  const seconds = total % 60;
  const two = (AValue) => String(AValue).padStart(2, '0');
  return hours > 0 ? `${hours}:${two(minutes)}:${two(seconds)}` : `${two(minutes)}:${two(seconds)}`;
}

// The transport clock: minutes (as many digits as needed, at least two), seconds and milliseconds.
export function FormatClock(ASec) {
  const ms = Math.max(0, Math.floor(ASec * 1000 + 1e-6));
  const minutes = Math.floor(ms / 60000);
  const seconds = Math.floor((ms % 60000) / 1000);
  return `${String(minutes).padStart(2, '0')}:${String(seconds).padStart(2, '0')}.${String(ms % 1000).padStart(3, '0')}`;
}

// "Selectie: 00:08 - 00:15  (00:07)", as the reader's status line.
export function SelectionText(AStart, AEnd) {
  return `Selectie: ${FormatDuration(AStart)} - ${FormatDuration(AEnd)}  (${FormatDuration(AEnd - AStart)})`;
}

// The catalogue's key of a day: yyyy-mm-dd of the local calendar date.
export function DayKey(ADate) {
  const two = (AValue) => String(AValue).padStart(2, '0');
  return `${ADate.getFullYear()}-${two(ADate.getMonth() + 1)}-${two(ADate.getDate())}`;
}

// A day as the reader displays it: dd-mm-yyyy (the Dutch date separator).
export function DayDisplay(AKey) {
  const [year, month, day] = AKey.split('-');
  return `${day}-${month}-${year}`;
}

// The caption of hour tile AHour: "9 - 10 uur", "23 - 0 uur".
export function HourCaption(AHour) {
  return `${AHour} - ${(AHour + 1) % 24} uur`;
}

// The picker's caption: "dd-mm-yyyy, 07-08 uur: 3 opnames gevonden. Kies er een:".
export function PickCaption(AKey, AHour, ACount) {
  const two = (AValue) => String(AValue).padStart(2, '0');
  return `${DayDisplay(AKey)}, ${two(AHour)}-${two((AHour + 1) % 24)} uur: ${ACount} opnames gevonden. Kies er een:`;
}

// ISO 8601 week number of ADate.
export function IsoWeek(ADate) {
  const day = new Date(Date.UTC(ADate.getFullYear(), ADate.getMonth(), ADate.getDate()));
  const weekday = day.getUTCDay() || 7;
  day.setUTCDate(day.getUTCDate() + 4 - weekday);
  const yearStart = new Date(Date.UTC(day.getUTCFullYear(), 0, 1));
  return Math.ceil(((day - yearStart) / 86400000 + 1) / 7);
}

// Day key, hour and number of a listed recording: from its fields when the server gives them, else from
// the recorder's file name <ddmmyyyy><hh><n>.
export function RecParts(ARec) {
  const match = /^(\d{2})(\d{2})(\d{4})(\d{2})(\d+)\./.exec(ARec.filename || '');
  const fromName = match ? { Day: `${match[3]}-${match[2]}-${match[1]}`, Hour: Number(match[4]), Number: Number(match[5]) } : {};
  return {
    Day: ARec.date ?? ARec.rec_date ?? fromName.Day,
    Hour: ARec.hour ?? ARec.rec_hour ?? fromName.Hour,
    Number: ARec.number ?? ARec.rec_number ?? fromName.Number,
  };
}
