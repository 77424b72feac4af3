// Harness page for wavesurfer.js with its regions, timeline, minimap and zoom plugins, fed pre-computed peaks.
import { TWave } from '../src/wave.js';
import { EnvelopeFromAnswer } from '../src/envelope.js';
import { Frames, FollowClock, HeapMb, LoadInputs } from './common.js';

async function Run() {
  const { envelope, audioUrl } = await LoadInputs();
  const media = document.getElementById('player');
  const heapBefore = HeapMb();
  const started = performance.now();
  const wave = new TWave(document.getElementById('zoom'), document.getElementById('overview'), media, () => {});
  await wave.Load(audioUrl, EnvelopeFromAnswer(envelope), envelope.duration);
  await Frames();
  const drawMs = performance.now() - started;
  let zoomStart = performance.now();
  const zoomed = new Promise((AResolve) => wave.Surfer.once('redrawcomplete', AResolve));
  wave.Surfer.zoom(1280 / 60);
  await zoomed;
  await Frames();
  const zoomMs = performance.now() - zoomStart;
  const shadow = document.getElementById('zoom').firstElementChild.shadowRoot;
  const cursor = shadow.querySelector('.cursor');
  const wrapper = shadow.querySelector('.wrapper');
  const cursorSec = () => {
    const left = cursor.getBoundingClientRect().left - wrapper.getBoundingClientRect().left;
    return (left / wrapper.scrollWidth) * envelope.duration;
  };
  const follow = await FollowClock(media, cursorSec, 1800, 4);
  window.harnessResult = { Library: 'wavesurfer.js', DrawMs: drawMs, ZoomMs: zoomMs, HeapMb: HeapMb() - heapBefore, ...follow };
}
Run().catch((AError) => { window.harnessResult = { Error: String(AError && AError.stack || AError) }; });
