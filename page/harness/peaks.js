// Harness page for peaks.js (Konva canvas), fed the same envelope as waveform-data JSON.
import Peaks from 'peaks.js';
import { Frames, FollowClock, HeapMb, LoadInputs } from './common.js';

async function Run() {
  const { envelope, audioUrl } = await LoadInputs();
  const media = document.getElementById('player');
  media.src = audioUrl;
  const channels = 2;
  // peaks.js takes local waveform data at 8 bits only: the 16-bit envelope loses its low byte.
  const json = {
    version: 2, channels, sample_rate: envelope.rate, samples_per_pixel: envelope.frames_per_point, bits: 8,
    length: envelope.data.length / (2 * channels), data: envelope.data.map((AValue) => Math.max(-128, Math.min(127, AValue >> 8))),
  };
  const heapBefore = HeapMb();
  const started = performance.now();
  const peaks = await new Promise((AResolve, AReject) => {
    Peaks.init({
      zoomview: { container: document.getElementById('zoom'), waveformColor: 'rgb(40, 220, 60)', playheadColor: 'rgb(240, 48, 48)' },
      overview: { container: document.getElementById('overview'), waveformColor: 'rgb(96, 176, 232)' },
      mediaElement: media,
      waveformData: { json },
      zoomLevels: [envelope.frames_per_point * 4, Math.ceil(envelope.rate * envelope.duration / 1280)],
      segmentOptions: { overlay: true },
    }, (AError, APeaks) => (AError ? AReject(AError) : AResolve(APeaks)));
  });
  peaks.views.getView('zoomview').setZoom({ seconds: 'auto' });
  await Frames();
  const drawMs = performance.now() - started;
  const zoomStart = performance.now();
  peaks.views.getView('zoomview').setZoom({ seconds: 60 });
  await Frames();
  const zoomMs = performance.now() - zoomStart;
  const view = peaks.views.getView('zoomview');
  const cursorSec = () => view.pixelsToTime(view._playheadLayer.getPlayheadPixel());
  const follow = await FollowClock(media, cursorSec, 1800, 4);
  window.harnessResult = { Library: 'peaks.js', DrawMs: drawMs, ZoomMs: zoomMs, HeapMb: HeapMb() - heapBefore, ...follow };
}
Run().catch((AError) => { window.harnessResult = { Error: String(AError && AError.stack || AError) }; });
