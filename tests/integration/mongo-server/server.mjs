// Starts the in-memory MongoDB wire-protocol server the integration tests talk to.
//   node server.mjs INSTALL_DIR [PORT]
// Listens on 127.0.0.1 only; PORT 0 (the default) takes a free port. Prints "PORT <n>" once it
// accepts connections and stops on SIGTERM, SIGINT or when stdin closes.
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const installDir = process.argv[2];
const port = Number(process.argv[3] ?? 0);
if (!installDir || !Number.isInteger(port) || port < 0 || port > 65535) {
  console.error('usage: node server.mjs INSTALL_DIR [PORT]');
  process.exit(2);
}
const serverModule = path.join(installDir, 'node_modules', '@push.rocks', 'smartmongo', 'dist_ts',
                               'congodb', 'server', 'CongoServer.js');
const { CongoServer } = await import(pathToFileURL(serverModule).href);

const server = new CongoServer({ host: '127.0.0.1', port });
await server.start();
process.stdout.write(`PORT ${server.server.address().port}\n`);

let stopping = false;
async function stop() {
  if (stopping) return;
  stopping = true;
  await server.stop();
  process.exit(0);
}
process.on('SIGTERM', stop);
process.on('SIGINT', stop);
process.stdin.on('end', stop);
process.stdin.resume();
