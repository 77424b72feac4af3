// The waveform of both lanes on wavesurfer.js: the server's envelope drawn at the ruler's time, a time
// ruler, an overview strip, zoom (buttons and wheel), drag to select, click to seek.
import WaveSurfer from 'wavesurfer.js';
import RegionsPlugin from 'wavesurfer.js/dist/plugins/regions.esm.js';
import TimelinePlugin from 'wavesurfer.js/dist/plugins/timeline.esm.js';
import MinimapPlugin from 'wavesurfer.js/dist/plugins/minimap.esm.js';
import ZoomPlugin from 'wavesurfer.js/dist/plugins/zoom.esm.js';
import { FormatDuration } from './format.js';
import { LanesForDuration, PointCount } from './envelope.js';

export const WaveColour = 'rgb(40, 220, 60)';
export const CursorColour = 'rgb(240, 48, 48)';
const SelectionColour = 'rgba(64, 128, 192, 0.35)';
const LaneHeight = 96;

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
          // Every time on the ruler readable, also over a selection (the component dims every other one).
          secondaryLabelOpacity: 0.8,
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

  // Plays through AMedia from now on: the <audio> element, or an object that stands for one (TStreamedMedia).
  UseMedia(AMedia) {
    if (this.FSurfer.getMediaElement() !== AMedia) this.FSurfer.setMediaElement(AMedia);
  }
  get Duration() { return this.FDuration; }

  // Shows the envelope of a recording of ADuration seconds whose sound comes from AUrl (the media's own
  // address, so that a sound already asked for is not asked for again). Resolves once the whole waveform is
  // drawn.
  async Load(AUrl, AEnvelope, ADuration) {
    this.FRegions.clearRegions();
    this.FSelection = null;
    this.TellSelection();
    this.FDuration = ADuration;
    const count = Math.max(1, Math.min(PointCount(AEnvelope), 200000));
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
