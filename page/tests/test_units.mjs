// The page's pure parts under node's own test runner: the reader's texts, the calendar's week numbers, the
// listed recordings' parts, the envelope spread over a recording's duration, and the Opus stream's times.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { DayDisplay, FormatClock, FormatDuration, HourCaption, IsoWeek, PickCaption, RecParts, SelectionText } from '../src/format.js';
import { EnvelopeFromAnswer, LanesForDuration } from '../src/envelope.js';
import { TStreamedMedia } from '../src/streamed.js';

test('texts in the reader\'s patterns', () => {
  const rows = [
    [FormatDuration(0), '00:00'], [FormatDuration(59.999), '00:59'], [FormatDuration(3600), '1:00:00'],
    [FormatDuration(3725), '1:02:05'], [FormatClock(0), '00:00.000'], [FormatClock(61.5), '01:01.500'],
    [FormatClock(3600.25), '60:00.250'], [SelectionText(8, 15), 'Selectie: 00:08 - 00:15  (00:07)'],
    [HourCaption(9), '9 - 10 uur'], [HourCaption(23), '23 - 0 uur'], [DayDisplay('2026-12-01'), '01-12-2026'],
    [PickCaption('2026-12-11', 23, 3), '11-12-2026, 23-00 uur: 3 opnames gevonden. Kies er een:'],
    [PickCaption('2026-12-11', 7, 2), '11-12-2026, 07-08 uur: 2 opnames gevonden. Kies er een:'],
  ];
  for (const [got, expected] of rows) assert.equal(got, expected);
});

test('ISO week numbers at the turns of the year', () => {
  assert.equal(IsoWeek(new Date(2026, 11, 28)), 53);
  assert.equal(IsoWeek(new Date(2027, 0, 3)), 53);
  assert.equal(IsoWeek(new Date(2027, 0, 4)), 1);
  assert.equal(IsoWeek(new Date(2024, 11, 30)), 1);
});

test('a listed recording\'s day, hour and number: its fields first, else its file name', () => {
  assert.deepEqual(RecParts({ filename: '11122026091.wav' }), { Day: '2026-12-11', Hour: 9, Number: 1 });
  assert.deepEqual(RecParts({ filename: '111220262312.mp3' }), { Day: '2026-12-11', Hour: 23, Number: 12 });
  assert.deepEqual(RecParts({ filename: 'x.wav', date: '2026-01-02', hour: 0, number: 3 }), { Day: '2026-01-02', Hour: 0, Number: 3 });
  assert.deepEqual(RecParts({ filename: 'opname.wav' }), { Day: undefined, Hour: undefined, Number: undefined });
});

test('every accepted envelope shape gives the same lanes', () => {
  const lanes = [{ min: [-100, -3000], max: [200, 3000] }, { min: [0, -10], max: [5, 10] }];
  const shapes = [
    { seconds_per_point: 0.5, lanes },
    { seconds_per_point: 0.5, channels: lanes },
    { seconds_per_point: 0.5, points: [[-100, 200, 0, 5], [-3000, 3000, -10, 10]] },
    { seconds_per_point: 0.5, channels: 2, data: [-100, 200, 0, 5, -3000, 3000, -10, 10] },
    { seconds_per_point: 0.5, count: 2, seconds: 1, left: [-100, 200, -3000, 3000], right: [0, 5, -10, 10] },
  ];
  for (const shape of shapes) {
    const envelope = EnvelopeFromAnswer(shape);
    assert.equal(envelope.SecPerPoint, 0.5);
    assert.equal(envelope.FullScale, 32768);
    assert.deepEqual(envelope.Lanes.map((ALane) => [...ALane.MinMax]), [[-100, 200, -3000, 3000], [0, 5, -10, 10]]);
  }
  assert.equal(EnvelopeFromAnswer({ seconds_per_point: 1, lanes: [{ min: [-0.5], max: [0.25] }] }).FullScale, 1);
});

test('a sound lands at the ruler\'s time although the points cover more than the recording', () => {
  // Ten points of 1 s over a recording of 9.5 s; only the point of 8..9 s holds sound (full scale).
  const max = new Array(10).fill(0);
  max[8] = 32768;
  const envelope = EnvelopeFromAnswer({ seconds_per_point: 1, lanes: [{ min: new Array(10).fill(0), max }] });
  const [lane] = LanesForDuration(envelope, 9.5, 19); // buckets of 0.5 s
  const loud = [...lane].map((AValue, AIndex) => (AValue > 0.5 ? AIndex : -1)).filter((AIndex) => AIndex >= 0);
  assert.deepEqual(loud, [16, 17]); // 8.0..9.0 s, not 7.6..8.55 s as an even spread of the points would put it
  assert.equal(lane[15], 0);
  assert.equal(lane[18], 0);
});

test('buckets finer and coarser than the points keep every peak', () => {
  const max = [0, 0, 16384, 0, 0, 0, 0, 0];
  const envelope = EnvelopeFromAnswer({ seconds_per_point: 0.25, lanes: [{ min: new Array(8).fill(0), max }] });
  assert.deepEqual([...LanesForDuration(envelope, 2, 4)[0]], [0, 0.5, 0, 0]);
  assert.deepEqual([...LanesForDuration(envelope, 2, 16)[0]].map((AValue) => AValue > 0), [
    false, false, false, false, true, true, false, false, false, false, false, false, false, false, false, false]);
});

// A media element as far as the stream uses one: its address, its own time, paused or playing, its events.
class TFakeElement extends EventTarget {
  constructor() { super(); this.src = ''; this.currentTime = 0; this.paused = true; this.ended = false; this.playbackRate = 1; }
  play() { this.paused = false; this.dispatchEvent(new Event('play')); return Promise.resolve(); }
  pause() { this.paused = true; }
}

function StreamOf(ADuration) {
  const element = new TFakeElement();
  const stream = new TStreamedMedia(element, (AStart) => `/api/recordings/7/audio?as=opus&start=${AStart.toFixed(3)}`, ADuration);
  const events = [];
  for (const name of ['seeking', 'seeked', 'play', 'pause', 'emptied', 'canplay', 'timeupdate']) {
    stream.addEventListener(name, () => events.push(name));
  }
  return { element, stream, events };
}

test('the stream gives the recording\'s time and asks again from a new start', () => {
  const { element, stream, events } = StreamOf(20);
  assert.equal(element.src, 'http://localhost/api/recordings/7/audio?as=opus&start=0.000');
  assert.equal(stream.duration, 20);
  element.currentTime = 3.25;
  assert.equal(stream.currentTime, 3.25);
  stream.currentTime = 10.5;
  assert.equal(element.src, '/api/recordings/7/audio?as=opus&start=10.500');
  element.currentTime = 0;
  assert.equal(stream.currentTime, 10.5);
  assert.equal(stream.seeking, true);
  // The old stream's leaving is part of the seek; the new stream's first frames end it.
  element.dispatchEvent(new Event('emptied'));
  element.dispatchEvent(new Event('canplay'));
  assert.deepEqual(events, ['seeking', 'canplay', 'seeked']);
  assert.equal(stream.seeking, false);
  element.currentTime = 1.5;
  assert.equal(stream.currentTime, 12);
  // Always ready to seek: the waveform component sets the time at once rather than remembering it.
  assert.equal(stream.readyState, 4);
  assert.equal(stream.src, 'http://localhost/api/recordings/7/audio?as=opus&start=0.000');
});

test('a seek while playing plays on; a seek to the end asks for nothing; Play from the end starts at 0', () => {
  const { element, stream } = StreamOf(20);
  stream.play();
  stream.currentTime = 4;
  assert.equal(element.paused, false);
  assert.equal(element.src, '/api/recordings/7/audio?as=opus&start=4.000');
  stream.currentTime = 25;
  assert.equal(element.src, '/api/recordings/7/audio?as=opus&start=4.000');
  assert.equal(stream.currentTime, 20);
  assert.equal(stream.paused, true);
  assert.equal(stream.ended, true);
  stream.currentTime = -3;
  assert.equal(element.src, '/api/recordings/7/audio?as=opus&start=0.000');
  stream.currentTime = 20;
  stream.play();
  assert.equal(element.src, '/api/recordings/7/audio?as=opus&start=0.000');
  assert.equal(stream.paused, false);
  assert.equal(stream.currentTime, 0);
});

test('a closed stream lets the element go', () => {
  const { element, stream, events } = StreamOf(20);
  stream.Close();
  element.dispatchEvent(new Event('play'));
  assert.deepEqual(events, []);
});
