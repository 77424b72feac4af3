// The server's JSON API: one fetch wrapper that turns every answer that is not 2xx into an EApiError with
// the server's Dutch text.

export class EApiError extends Error {
  constructor(AStatus, AMessage, ARetryAfter) {
    super(AMessage);
    this.Status = AStatus;
    this.RetryAfter = ARetryAfter; // seconds, or 0 when the server did not say
  }
}

const FallbackTexts = {
  401: 'Niet aangemeld.',
  403: 'Dit mag u niet met uw rol.',
  404: 'Niet gevonden.',
  409: 'De database is bezet; probeer het zo opnieuw.',
  429: 'Te veel pogingen; probeer het later opnieuw.',
};

export async function Api(APath, AOptions = {}) {
  const init = { method: AOptions.method || 'GET', credentials: 'same-origin', headers: {} };
  if (AOptions.body !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(AOptions.body);
  }
  let answer;
  try {
    answer = await fetch(APath, init);
  } catch (error) {
    throw new EApiError(0, 'De server is niet bereikbaar.', 0);
  }
  let data = null;
  const text = await answer.text();
  if (text) {
    try { data = JSON.parse(text); } catch (error) { data = null; }
  }
  if (!answer.ok) {
    const retryAfter = Number(answer.headers.get('Retry-After')) || 0;
    const message = (data && data.error) || FallbackTexts[answer.status] || `Fout ${answer.status} van de server.`;
    throw new EApiError(answer.status, message, retryAfter);
  }
  return data;
}
