// Runs `varnex preview` as a child process on a free loopback port and talks to its HTTP API.
// Each server is stopped by its process id: SIGTERM, then SIGKILL if it has not gone within a few
// seconds, so a failing test never leaves one behind.
import {execFile, spawn} from 'node:child_process';
import {promisify} from 'node:util';

const run = promisify(execFile);

export const VARNEX = process.env.VARNEX_CLI;
if (!VARNEX) throw new Error('VARNEX_CLI must name the varnex command');

const URL_LINE = /^varnex: preview at (http:\/\/127\.0\.0\.1:\d+\/\?token=([0-9a-f]{32}))$/;
const START_MS = 60_000;
const STOP_MS = 5_000;

// args: what follows `varnex preview`. Resolves once the server has printed its address; rejects
// (after stopping the child) if it exits first or stays silent too long.
export async function startPreview(args, {cwd} = {}) {
  const child = spawn(VARNEX, ['preview', ...args, '--port', '0'], {
    cwd,
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  const server = new PreviewServer(child);
  try {
    await server.started;
  } catch (error) {
    await server.stop();
    throw error;
  }
  return server;
}

class PreviewServer {
  constructor(child) {
    this.child = child;
    this.stderr = '';
    this.exited =
        new Promise((resolve) => child.once('exit', (code, signal) => resolve({code, signal})));
    child.stderr.setEncoding('utf8');
    child.stderr.on('data', (text) => {
      this.stderr += text;
    });
    this.started = new Promise((resolve, reject) => {
      let stdout = '';
      const timer = setTimeout(
          () =>
              reject(new Error(`no address from varnex preview in ${START_MS} ms\n${this.stderr}`)),
          START_MS);
      child.stdout.setEncoding('utf8');
      child.stdout.on('data', (text) => {
        stdout += text;
        const newline = stdout.indexOf('\n');
        if (newline < 0 || this.url) return;
        const match = URL_LINE.exec(stdout.slice(0, newline));
        clearTimeout(timer);
        if (!match) {
          reject(new Error(`unexpected first line from varnex preview: ${
              JSON.stringify(stdout.slice(0, newline))}`));
          return;
        }
        this.url = match[1];
        this.token = match[2];
        this.origin = new URL(this.url).origin;
        resolve();
      });
      child.once('error', (error) => {
        clearTimeout(timer);
        reject(error);
      });
      this.exited.then(({code, signal}) => {
        clearTimeout(timer);
        reject(new Error(`varnex preview exited (${code ?? signal}) before printing its address\n${
            this.stderr}`));
      });
    });
  }

  // Stops the server by its pid and waits for it; returns how it ended. Harmless to call twice.
  async stop() {
    const {pid} = this.child;
    if (this.child.exitCode === null && this.child.signalCode === null && pid) {
      try {
        process.kill(pid, 'SIGTERM');
      } catch {
        // Already gone.
      }
      let timer;
      const late = new Promise((resolve) => {
        timer = setTimeout(resolve, STOP_MS, 'late');
      });
      if ((await Promise.race([this.exited, late])) === 'late') {
        try {
          process.kill(pid, 'SIGKILL');
        } catch {
          // Gone meanwhile.
        }
      }
      clearTimeout(timer);
    }
    return this.exited;
  }

  // A JSON request to the API with the token; answers {status, body}. GET without a body.
  async api(path, body) {
    const response = await fetch(`${this.origin}${path}`, {
      method: body === undefined ? 'GET' : 'POST',
      headers: {'X-Varnex-Token': this.token, 'Content-Type': 'application/json'},
      body: body === undefined ? undefined : JSON.stringify(body),
      signal: AbortSignal.timeout(30_000),
    });
    const text = await response.text();
    let parsed;
    try {
      parsed = JSON.parse(text);
    } catch {
      parsed = text;
    }
    return {status: response.status, body: parsed};
  }

  async state() {
    const {status, body} = await this.api('/api/state');
    if (status !== 200)
      throw new Error(`GET /api/state answered ${status}: ${JSON.stringify(body)}`);
    return body;
  }
}

// Runs `varnex ARGS...` to completion; rejects with its standard error on a non-zero exit.
export async function varnex(args, {cwd} = {}) {
  try {
    return await run(VARNEX, args, {cwd, timeout: 120_000, maxBuffer: 16 << 20});
  } catch (error) {
    throw new Error(`varnex ${args.join(' ')} failed (${error.code ?? error.signal}):\n${
        error.stderr ?? error.message}`);
  }
}
