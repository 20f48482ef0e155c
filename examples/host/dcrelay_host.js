// A minimal host program for dcrelay in Node.js: its standard library and iconv-lite for GBK
// (Debian's node-iconv-lite).
//
// It listens on a Unix stream socket as its window, starts the relay of an installation with
// its own handle, answers every request from a small table of replies, and closes the relay
// when its standard input ends (or says "close") or when it gets SIGINT or SIGTERM. Each event
// is printed as one JSON line.
//
//     node dcrelay_host.js [--exchange DIR] [--reply MNEMONIC=TEXT ...] INSTALLATION/dcrelay
//
// docs/host-protocol.md describes the protocol this follows.
'use strict';
const childProcess = require('child_process');
const fs = require('fs');
const net = require('net');
const path = require('path');
const readline = require('readline');

let iconv;
try {
  iconv = require('iconv-lite');
} catch (e) {
  // A Node.js that is not Debian's does not look among Debian's modules by itself.
  process.env.NODE_PATH = [process.env.NODE_PATH, '/usr/share/nodejs'].filter(Boolean)
    .join(path.delimiter);
  require('module')._initPaths();
  iconv = require('iconv-lite');
}

const MESSAGE = 0x500; // the one message number, both directions
const REPLY_READY = 1; // host -> relay: R1.TXT is ready
const CLOSE = 13; // host -> relay: the host closes; the relay ends
// Request files of these four operations are empty: a reply rule for one of their names
// answers them under that name.
const EMPTY_REQUEST_NAMES = ['KHKH', 'PYKH', 'ZKMD', 'XJJZ'];

function runtimeDir() {
  let dir;
  if (process.env.DCRELAY_RUNTIME_DIR) {
    dir = process.env.DCRELAY_RUNTIME_DIR;
  } else if (process.env.XDG_RUNTIME_DIR) {
    dir = path.join(process.env.XDG_RUNTIME_DIR, 'dcrelay');
  } else {
    dir = '/tmp/dcrelay-' + process.getuid();
  }
  fs.mkdirSync(dir, { recursive: true, mode: 0o700 });
  return dir.replace(/(.)\/+$/, '$1');
}

function event(name, fields) {
  console.log(JSON.stringify(Object.assign({ event: name }, fields)));
}

function parseArguments(args) {
  const options = { exchange: null, replies: new Map() };
  let i = 0;
  for (; i < args.length - 1 && args[i].startsWith('--'); ++i) {
    if (args[i] === '--exchange') {
      options.exchange = args[++i];
    } else if (args[i] === '--reply' && args[i + 1].includes('=')) {
      const rule = args[++i];
      options.replies.set(rule.slice(0, rule.indexOf('=')), rule.slice(rule.indexOf('=') + 1));
    } else {
      break;
    }
  }
  if (i !== args.length - 1) {
    console.error('usage: node dcrelay_host.js [--exchange DIR] [--reply MNEMONIC=TEXT ...] ' +
                  'INSTALLATION/dcrelay');
    process.exit(2);
  }
  options.relay = path.resolve(args[i]); // absolute, but the link itself: not resolved
  options.exchange = options.exchange || path.dirname(options.relay);
  return options;
}

const options = parseArguments(process.argv.slice(2));
const handle = process.pid; // our "window": the socket win-<handle>
const runtime = runtimeDir();
const window = `${runtime}/win-${handle}`;
let connection = null; // the relay's, once it has connected
let pending = Buffer.alloc(0);
let closing = false;

function post(code) {
  if (connection === null) {
    return; // like a post to a window that has gone
  }
  const message = Buffer.alloc(12);
  message.writeUInt32LE(MESSAGE, 0);
  message.writeUInt32LE(handle, 4);
  message.writeInt32LE(code, 8);
  connection.write(message);
}

function answer() {
  const replyFile = path.join(options.exchange, 'R1.TXT');
  fs.rmSync(replyFile, { force: true }); // the relay is done with the previous reply
  const request = iconv.decode(fs.readFileSync(path.join(options.exchange, 'T1.txt')), 'gbk');
  const header = request.split('\r\n')[0];
  const mnemonic = header.slice(0, 5).trim();
  event('request', { mnemonic, handheld: header.slice(5).trim(), text: request });
  let name = mnemonic === 'YDKT' ? 'QCJE' : mnemonic;
  let text = options.replies.has(mnemonic) ? options.replies.get(mnemonic) : 'OK';
  if (mnemonic === '') {
    name = EMPTY_REQUEST_NAMES.find((n) => options.replies.has(n)) || '';
    text = options.replies.get(name);
  }
  // An empty handheld field marks success; the plain number would mark a refusal. An empty
  // reply names no operation: the relay answers "成功" under operation 0.
  const reply = name === '' ? Buffer.alloc(0) : iconv.encode(name.padEnd(5) + '\r\n' + text + '\r\n', 'gbk');
  const temporary = replyFile + '.tmp';
  fs.writeFileSync(temporary, reply); // written whole, then renamed into place
  fs.renameSync(temporary, replyFile);
  post(REPLY_READY);
  event('replied', { mnemonic, size: reply.length });
}

function onMessage(message) {
  const number = message.readUInt32LE(0);
  const first = message.readUInt32LE(4);
  const second = message.readInt32LE(8);
  if (number !== MESSAGE) {
    return;
  }
  if (first === 1 && second === 1) { // T1.txt holds a request
    answer();
  } else if (first === second) { // the start-up announcement: the relay's own handle
    event('announced', { relay_handle: first });
  }
}

// The relay connects once, at its start. Exactly 12 bytes per message, however the stream
// cuts them.
function onConnection(socket) {
  if (connection !== null) {
    connection.destroy();
  }
  connection = socket;
  pending = Buffer.alloc(0);
  socket.on('data', (data) => {
    pending = Buffer.concat([pending, data]);
    while (pending.length >= 12) {
      const message = pending.subarray(0, 12);
      pending = pending.subarray(12);
      onMessage(message);
    }
  });
  socket.on('close', () => {
    if (connection === socket) {
      connection = null;
    }
  });
  socket.on('error', () => {}); // its end follows as 'close'
}

fs.rmSync(window, { force: true }); // left by a process that had our pid before
const server = net.createServer(onConnection);
server.listen(window, () => { // bound before the relay starts, kept until it has ended
  for (const stale of ['T1.txt', 'R1.TXT']) { // never let the relay read an old reply
    fs.rmSync(path.join(options.exchange, stale), { force: true });
  }
  // Started by a path containing '/', so that the installation holding the link is its
  // program directory; its working directory is the exchange directory.
  const relay = childProcess.spawn(options.relay, [String(handle)],
                                   { cwd: options.exchange, stdio: ['ignore', 'inherit', 'inherit'] });
  event('started', { handle, relay_pid: relay.pid, runtime_dir: runtime });
  let killTimer = null;
  let terminated = false;
  relay.on('exit', (code, signal) => {
    clearTimeout(killTimer);
    const status = code !== null ? code : 128 + require('os').constants.signals[signal];
    server.close();
    fs.rmSync(window, { force: true });
    event('closed', { status, terminated });
    process.exit(status);
  });
  function close() {
    if (closing) {
      return;
    }
    closing = true;
    post(CLOSE);
    killTimer = setTimeout(() => { // the relay did not take the message: SIGTERM
      terminated = true;
      relay.kill('SIGTERM');
    }, 10000);
  }
  process.on('SIGINT', close);
  process.on('SIGTERM', close);
  readline.createInterface({ input: process.stdin }).on('line', (line) => {
    if (line.trim() === 'close') {
      close();
    }
  }).on('close', close);
});
