// The waveform of both lanes on wavesurfer.js: the server's envelope drawn at the ruler's time, a time
// ruler, an overview strip, zoom (buttons and wheel), drag to select, click to seek.
import WaveSurfer from 'wavesurfer.js';
import RegionsPlugin from 'wavesurfer.js/dist/plugins/regions.esm.js';
import TimelinePlugin from 'wavesurfer.js/dist/plugins/timeline.esm.js';
import MinimapPlugin from 'wavesurfer.js/dist/plugins/minimap.esm.js';
import ZoomPlugin from 'wavesurfer.js/dist/plugins/zoom.esm.js';
import { FormatDuration } from './format.js';

export const WaveColour = 'rgb(40, 220, 60)';
export const CursorColour = 'rgb(240, 48, 48)';
const SelectionColour = 'rgba(64, 128, 192, 0.35)';
const LaneHeight = 96;

// The lanes of an envelope answer as { SecPerPoint, Lanes: [{ Min, Max }, …], FullScale }. Accepted shapes:
// { seconds_per_point, lanes: [{ min: [], max: [] }, …] }, { seconds_per_point, channels: [{min,max}] },
// { seconds_per_point, points: [[mnL, mxL, mnR, mxR], …] } and { seconds_per_point, data: [mnL, mxL, mnR,
// mxR, …], channels: 2 }; values 16-bit (full scale 32768) unless every one lies within ±1.
export function EnvelopeFromAnswer(AAnswer) {
  const secPerPoint = Number(AAnswer.seconds_per_point ?? AAnswer.sec_per_point ?? AAnswer.secondsPerPoint);
  let lanes = AAnswer.lanes || AAnswer.channels;
  if (!Array.isArray(lanes)) {
    const channelCount = Number(AAnswer.channels) || 2;
    const flat = AAnswer.points ? AAnswer.points.flat() : AAnswer.data;
    lanes = [];
    for (let lane = 0; lane < channelCount; lane++) {
      const count = Math.floor(flat.length / (2 * channelCount));
      const min = new Array(count);
      const max = new Array(count);
      for (let i = 0; i < count; i++) {
        min[i] = flat[(i * channelCount + lane) * 2];
        max[i] = flat[(i * channelCount + lane) * 2 + 1];
      }
      lanes.push({ min, max });
    }
  }
  let largest = 0;
  for (const lane of lanes) {
    for (const value of lane.max) largest = Math.max(largest, Math.abs(value));
    for (const value of lane.min) largest = Math.max(largest, Math.abs(value));
  }
  const fullScale = Number(AAnswer.full_scale) || (largest <= 1 ? 1 : 32768);
  return { SecPerPoint: secPerPoint, Lanes: lanes.map((ALane) => ({ Min: ALane.min, Max: ALane.max })), FullScale: fullScale };
}

// One array per lane for wavesurfer, which spreads an array evenly over the duration: ACount buckets of
// ADuration / ACount seconds, each the largest magnitude of the envelope points it overlaps, so that a
// sound at t seconds lands at the ruler's t whatever the points cover beyond the end (at most one bucket
// early or late). Values 0..1.
export function LanesForDuration(AEnvelope, ADuration, ACount) {
  const { SecPerPoint, Lanes, FullScale } = AEnvelope;
  return Lanes.map((ALane) => {
    const points = ALane.Max.length;
    const out = new Float32Array(ACount);
    const bucket = ADuration / ACount;
    for (let j = 0; j < ACount; j++) {
      const first = Math.floor((j * bucket) / SecPerPoint + 1e-9);
      const last = Math.min(points - 1, Math.ceil(((j + 1) * bucket) / SecPerPoint - 1e-9) - 1);
      let peak = 0;
      for (let i = first; i <= last; i++) {
        const magnitude = Math.max(Math.abs(ALane.Min[i]), Math.abs(ALane.Max[i]));
        if (magnitude > peak) peak = magnitude;
      }
      out[j] = Math.min(1, peak / FullScale);
    }
    return out;
  });
}

// wavesurfer.js writes its look into a <style> element of its shadow root, which a page under
// `Content-Security-Policy: default-src 'self'` does not apply; the same text as a constructed style sheet
// is allowed. Walks every shadow root under ARoot once per style element.
const AdoptedStyles = new WeakSet();
export function AdoptShadowStyles(ARoot) {
  for (const element of ARoot.querySelectorAll('*')) {
    const shadow = element.shadowRoot;
    if (!shadow) continue;
    for (const style of shadow.querySelectorAll('style')) {
      if (AdoptedStyles.has(style)) continue;
      AdoptedStyles.add(style);
      const sheet = new CSSStyleSheet();
      sheet.replaceSync(style.textContent);
      shadow.adoptedStyleSheets = [...shadow.adoptedStyleSheets, sheet];
    }
    AdoptShadowStyles(shadow);
  }
}

export class TWave {
  // AContainer and AOverview: empty elements; AMedia: the <audio> element that plays. AOnSelection(AStart,
  // AEnd) gets the selection in seconds, (−1, −1) when there is none.
  constructor(AContainer, AOverview, AMedia, AOnSelection) {
    this.FContainer = AContainer;
    this.FOnSelection = AOnSelection;
    this.FSelection = null;
    this.FDuration = 0;
    this.FRegions = RegionsPlugin.create();
    this.FSurfer = WaveSurfer.create({
      container: AContainer,
      media: AMedia,
      height: LaneHeight,
      splitChannels: [
        { waveColor: WaveColour, progressColor: WaveColour, height: LaneHeight },
        { waveColor: WaveColour, progressColor: WaveColour, height: LaneHeight },
      ],
      waveColor: WaveColour,
      progressColor: WaveColour,
      cursorColor: CursorColour,
      cursorWidth: 1,
      normalize: false,
      interact: true,
      dragToSeek: false,
      autoScroll: true,
      autoCenter: true,
      minPxPerSec: 0,
      fillParent: true,
      plugins: [
        this.FRegions,
        TimelinePlugin.create({
          height: 18,
          formatTimeCallback: (ASec) => FormatDuration(ASec),
          style: { color: 'rgb(176, 176, 176)', fontSize: '11px' },
        }),
        MinimapPlugin.create({
          container: AOverview,
          height: 28,
          waveColor: 'rgb(96, 176, 232)',
          progressColor: 'rgb(96, 176, 232)',
          cursorColor: CursorColour,
          overlayColor: 'rgba(230, 230, 230, 0.25)',
        }),
        ZoomPlugin.create({ scale: 0.25, maxZoom: 4000 }),
      ],
    });
    this.FRegions.enableDragSelection({ color: SelectionColour, drag: false });
    this.FRegions.on('region-created', (ARegion) => {
      for (const other of this.FRegions.getRegions()) if (other !== ARegion) other.remove();
      this.FSelection = ARegion;
      this.TellSelection();
    });
    this.FRegions.on('region-updated', () => this.TellSelection());
    this.FRegions.on('region-removed', (ARegion) => {
      if (ARegion === this.FSelection) { this.FSelection = null; this.TellSelection(); }
    });
    const adopt = () => AdoptShadowStyles(document.body);
    for (const event of ['init', 'decode', 'ready', 'redraw', 'redrawcomplete']) this.FSurfer.on(event, adopt);
    adopt();
  }

  get Surfer() { return this.FSurfer; }
  get Duration() { return this.FDuration; }

  // Shows the envelope of a recording of ADuration seconds whose sound comes from AUrl. Resolves once the
  // whole waveform is drawn.
  async Load(AUrl, AEnvelope, ADuration) {
    this.FRegions.clearRegions();
    this.FSelection = null;
    this.TellSelection();
    this.FDuration = ADuration;
    const count = Math.max(1, Math.min(AEnvelope.Lanes[0].Max.length, 200000));
    const lanes = LanesForDuration(AEnvelope, ADuration, count);
    const drawn = new Promise((AResolve) => this.FSurfer.once('redrawcomplete', AResolve));
    await this.FSurfer.load(AUrl, lanes, ADuration);
    await drawn;
    AdoptShadowStyles(document.body);
  }

  Selection() {
    if (!this.FSelection) return null;
    return { Start: this.FSelection.start, End: this.FSelection.end };
  }

  // Selects AStart..AEnd seconds (for the keyboard and the tests).
  Select(AStart, AEnd) {
    this.FRegions.addRegion({ start: AStart, end: AEnd, color: SelectionColour, drag: false });
  }

  TellSelection() {
    const selection = this.Selection();
    if (selection) this.FOnSelection(selection.Start, selection.End);
    else this.FOnSelection(-1, -1);
  }

  PxPerSec() {
    const width = this.FContainer.clientWidth || 1;
    const zoom = this.FSurfer.options.minPxPerSec || 0;
    return Math.max(zoom, this.FDuration > 0 ? width / this.FDuration : 0);
  }

  ZoomBy(AFactor) {
    if (this.FDuration <= 0) return;
    const fit = (this.FContainer.clientWidth || 1) / this.FDuration;
    const next = Math.min(4000, this.PxPerSec() * AFactor);
    this.FSurfer.zoom(next <= fit * 1.0001 ? 0 : next);
  }

  ZoomAll() { if (this.FDuration > 0) this.FSurfer.zoom(0); }

  ZoomSelection() {
    const selection = this.Selection();
    if (!selection || selection.End <= selection.Start) return;
    this.FSurfer.zoom(Math.min(4000, (this.FContainer.clientWidth || 1) / (selection.End - selection.Start)));
    this.FSurfer.setScrollTime(selection.Start);
  }
}
