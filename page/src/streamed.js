// The server's Opus stream of a recording whose codec the browser does not play (`?as=opus&start=S`), shown to
// the waveform and the clock as if it were the whole recording: its times are the recording's times (the
// stream's own time plus the start it was asked from), its length is the recording's, and a seek asks the
// server for the stream again from the new start. The stream itself has no byte ranges to seek in.

// The media element events passed on as this object's own; 'emptied', 'abort' and 'loadstart' of a stream
// asked for again belong to the seek, not to the listener.
const ForwardedEvents = ['play', 'playing', 'pause', 'ended', 'timeupdate', 'waiting', 'canplay', 'canplaythrough',
  'loadedmetadata', 'loadeddata', 'durationchange', 'volumechange', 'ratechange', 'error', 'emptied'];

export class TStreamedMedia extends EventTarget {
  // AElement: the <audio> element that plays; AUrlOf(AStartSec): the stream's address from a start;
  // ADuration: the recording's length in seconds.
  constructor(AElement, AUrlOf, ADuration) {
    super();
    this.FElement = AElement;
    this.FUrlOf = AUrlOf;
    this.FDuration = ADuration;
    this.FStart = 0;      // the recording's time at the stream's time 0
    this.FSeeking = false; // a stream asked for again that has not yet given its first frames
    this.FAtEnd = false;  // sought to the very end: no stream (the server has nothing after the end)
    this.FListeners = ForwardedEvents.map((AName) => {
      const listener = () => this.ElementEvent(AName);
      AElement.addEventListener(AName, listener);
      return [AName, listener];
    });
    this.FUrl = new URL(AUrlOf(0), globalThis.document ? document.baseURI : 'http://localhost/').href;
    AElement.src = this.FUrl;
  }

  // Lets the element go (another recording is loaded).
  Close() {
    for (const [name, listener] of this.FListeners) this.FElement.removeEventListener(name, listener);
    this.FListeners = [];
  }

  ElementEvent(AName) {
    if (this.FSeeking && (AName === 'emptied' || AName === 'pause')) return;
    if (this.FSeeking && (AName === 'canplay' || AName === 'error')) {
      this.FSeeking = false;
      this.dispatchEvent(new Event(AName));
      if (AName === 'canplay') this.dispatchEvent(new Event('seeked'));
      return;
    }
    this.dispatchEvent(new Event(AName));
  }

  // Asks for the stream from AStartSec, playing on when it played.
  Restart(AStartSec) {
    const playing = !this.FElement.paused;
    this.FStart = AStartSec;
    this.FAtEnd = false;
    this.FSeeking = true;
    this.dispatchEvent(new Event('seeking'));
    this.FElement.src = this.FUrlOf(AStartSec);
    if (playing) this.FElement.play().catch(() => {});
  }

  // ---- what the waveform component and the page use of a media element
  get src() { return this.FUrl; }
  get currentSrc() { return this.FUrl; }
  removeAttribute() {}
  load() {}
  get duration() { return this.FDuration; }
  get currentTime() {
    if (this.FAtEnd) return this.FDuration;
    return Math.min(this.FDuration, this.FStart + (this.FElement.currentTime || 0));
  }

  set currentTime(ASec) {
    const target = Math.max(0, Math.min(this.FDuration, Number(ASec) || 0));
    if (target >= this.FDuration) {
      // Nothing to stream after the end: the clock stands at the end, as a media element's does.
      this.FElement.pause();
      this.FStart = this.FDuration;
      this.FAtEnd = true;
      this.FSeeking = false;
      this.dispatchEvent(new Event('seeking'));
      this.dispatchEvent(new Event('timeupdate'));
      this.dispatchEvent(new Event('seeked'));
      return;
    }
    this.Restart(target);
  }

  get paused() { return this.FAtEnd || this.FElement.paused; }
  get ended() { return this.FAtEnd || this.FElement.ended; }
  get seeking() { return this.FSeeking; }
  // Always ready to seek: a seek is answered at once by asking for a new stream (a media element that is not
  // yet ready would only remember the time).
  get readyState() { return 4; } // HAVE_ENOUGH_DATA
  get error() { return this.FElement.error; }
  get volume() { return this.FElement.volume; }
  set volume(AValue) { this.FElement.volume = AValue; }
  get muted() { return this.FElement.muted; }
  set muted(AValue) { this.FElement.muted = AValue; }
  get playbackRate() { return this.FElement.playbackRate; }
  set playbackRate(AValue) { this.FElement.playbackRate = AValue; }
  get preservesPitch() { return this.FElement.preservesPitch; }
  set preservesPitch(AValue) { this.FElement.preservesPitch = AValue; }

  play() {
    if (this.FAtEnd) this.Restart(0);
    return this.FElement.play();
  }

  pause() { this.FElement.pause(); }
  setSinkId(AId) { return this.FElement.setSinkId(AId); }
}
