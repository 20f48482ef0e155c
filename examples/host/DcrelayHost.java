// A minimal host program for dcrelay in Java, standard library only (JDK 17).
//
// It listens on a Unix stream socket as its window, starts the relay of an installation with
// its own handle, answers every request from a small table of replies, and closes the relay
// when its standard input ends (or says "close") or when it gets SIGINT or SIGTERM. Each event
// is printed as one JSON line. Run it in a UTF-8 locale: Java reads its command line in the
// locale's encoding.
//
//     java DcrelayHost.java [--exchange DIR] [--reply MNEMONIC=TEXT ...] INSTALLATION/dcrelay
//
// docs/host-protocol.md describes the protocol this follows.

import java.io.BufferedReader;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.net.StandardProtocolFamily;
import java.net.UnixDomainSocketAddress;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.channels.SelectionKey;
import java.nio.channels.Selector;
import java.nio.channels.ServerSocketChannel;
import java.nio.channels.SocketChannel;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import jdk.net.ExtendedSocketOptions;

public class DcrelayHost {
    static final int MESSAGE = 0x500; // the one message number, both directions
    static final int REPLY_READY = 1; // host -> relay: R1.TXT is ready
    static final int CLOSE = 13; // host -> relay: the host closes; the relay ends
    static final Charset GBK = Charset.forName("GBK");
    // Request files of these four operations are empty: a reply rule for one of their names
    // answers them under that name.
    static final List<String> EMPTY_REQUEST_NAMES = List.of("KHKH", "PYKH", "ZKMD", "XJJZ");
    static final PrintStream OUT =
            new PrintStream(new FileOutputStream(FileDescriptor.out), true, StandardCharsets.UTF_8);

    final long handle = ProcessHandle.current().pid(); // our "window": the socket win-<handle>
    final Path runtime = runtimeDir();
    final Path window = runtime.resolve("win-" + handle);
    final Path exchange;
    final Map<String, String> replies;
    final ServerSocketChannel server;
    final Selector selector = Selector.open();
    final ByteBuffer in = ByteBuffer.allocate(12).order(ByteOrder.LITTLE_ENDIAN);
    SocketChannel connection; // the relay's, once it has connected
    final Process relay;
    volatile boolean closing;

    static Path runtimeDir() throws IOException {
        String own = System.getenv("DCRELAY_RUNTIME_DIR"), xdg = System.getenv("XDG_RUNTIME_DIR");
        String path = own != null && !own.isEmpty() ? own
                : xdg != null && !xdg.isEmpty() ? xdg + "/dcrelay"
                : "/tmp/dcrelay-" + Files.getAttribute(Path.of("/proc/self"), "unix:uid");
        Path dir = Path.of(path.replaceAll("(.)/+$", "$1"));
        if (!Files.isDirectory(dir)) {
            Files.createDirectories(dir, PosixFilePermissions.asFileAttribute(
                    PosixFilePermissions.fromString("rwx------")));
        }
        return dir;
    }

    static String json(Object... keysAndValues) {
        StringBuilder b = new StringBuilder("{");
        for (int i = 0; i < keysAndValues.length; i += 2) {
            b.append(i == 0 ? "" : ", ").append(quote(keysAndValues[i].toString())).append(": ");
            Object v = keysAndValues[i + 1];
            b.append(v instanceof String ? quote((String) v) : String.valueOf(v));
        }
        return b.append("}").toString();
    }

    static String quote(String s) {
        StringBuilder b = new StringBuilder("\"");
        for (char c : s.toCharArray()) {
            if (c == '"' || c == '\\') {
                b.append('\\').append(c);
            } else if (c < 0x20) {
                b.append(String.format("\\u%04x", (int) c));
            } else {
                b.append(c);
            }
        }
        return b.append('"').toString();
    }

    static void event(String name, Object... fields) {
        Object[] all = new Object[fields.length + 2];
        all[0] = "event";
        all[1] = name;
        System.arraycopy(fields, 0, all, 2, fields.length);
        OUT.println(json(all));
    }

    DcrelayHost(Path relayPath, Path exchange, Map<String, String> replies) throws IOException {
        this.exchange = exchange;
        this.replies = replies;
        Files.deleteIfExists(window); // left by a process that had our pid before
        server = ServerSocketChannel.open(StandardProtocolFamily.UNIX);
        server.bind(UnixDomainSocketAddress.of(window)); // bound before the relay starts
        server.configureBlocking(false);
        server.register(selector, SelectionKey.OP_ACCEPT);
        for (String stale : List.of("T1.txt", "R1.TXT")) { // never let the relay read an old reply
            Files.deleteIfExists(exchange.resolve(stale));
        }
        // Started by a path containing '/', so that the installation holding the link is its
        // program directory; its working directory is the exchange directory.
        relay = new ProcessBuilder(relayPath.toString(), Long.toString(handle))
                .directory(exchange.toFile())
                .redirectOutput(ProcessBuilder.Redirect.INHERIT)
                .redirectError(ProcessBuilder.Redirect.INHERIT)
                .start();
        event("started", "handle", handle, "relay_pid", relay.pid(), "runtime_dir", runtime.toString());
    }

    // The relay connects once, at its start; only a peer of our own user is taken.
    void accept() throws IOException {
        SocketChannel c = server.accept();
        if (c == null) {
            return;
        }
        String peer = c.getOption(ExtendedSocketOptions.SO_PEERCRED).user().getName();
        if (!peer.equals(Files.getOwner(Path.of("/proc/self")).getName())) {
            c.close();
            return;
        }
        c.configureBlocking(false);
        c.register(selector, SelectionKey.OP_READ);
        connection = c;
    }

    // Exactly 12 bytes per message, across as many reads as it takes.
    void read() throws IOException {
        if (connection.read(in) < 0) { // the relay has ended
            connection.close();
            connection = null;
            in.clear();
            return;
        }
        if (in.hasRemaining()) {
            return;
        }
        in.flip();
        int number = in.getInt();
        long first = in.getInt() & 0xFFFFFFFFL;
        int second = in.getInt();
        in.clear();
        if (number != MESSAGE) {
            return;
        }
        if (first == 1 && second == 1) { // T1.txt holds a request
            answer();
        } else if (first == second) { // the start-up announcement: the relay's own handle
            event("announced", "relay_handle", first);
        }
    }

    void post(int code) throws IOException {
        if (connection == null) {
            return; // like a post to a window that has gone
        }
        ByteBuffer b = ByteBuffer.allocate(12).order(ByteOrder.LITTLE_ENDIAN);
        b.putInt(MESSAGE).putInt((int) handle).putInt(code).flip();
        connection.write(b); // twelve bytes go whole onto a Unix stream
    }

    void answer() throws IOException {
        Path replyFile = exchange.resolve("R1.TXT");
        Files.deleteIfExists(replyFile); // the relay is done with the previous reply
        String request = new String(Files.readAllBytes(exchange.resolve("T1.txt")), GBK);
        String header = request.split("\r\n", 2)[0];
        String mnemonic = header.substring(0, Math.min(5, header.length())).strip();
        String handheld = header.length() > 5 ? header.substring(5).strip() : "";
        event("request", "mnemonic", mnemonic, "handheld", handheld, "text", request);
        String name = mnemonic.equals("YDKT") ? "QCJE" : mnemonic;
        String text = replies.getOrDefault(mnemonic, "OK");
        if (mnemonic.isEmpty()) {
            name = EMPTY_REQUEST_NAMES.stream().filter(replies::containsKey).findFirst().orElse("");
            text = replies.get(name);
        }
        // An empty handheld field marks success; the plain number would mark a refusal. An
        // empty reply names no operation: the relay answers "成功" under operation 0.
        byte[] reply = name.isEmpty() ? new byte[0]
                : (String.format("%-5s", name) + "\r\n" + text + "\r\n").getBytes(GBK);
        Path temporary = exchange.resolve("R1.TXT.tmp");
        Files.write(temporary, reply); // written whole, then renamed into place
        Files.move(temporary, replyFile, StandardCopyOption.ATOMIC_MOVE);
        post(REPLY_READY);
        event("replied", "mnemonic", mnemonic, "size", reply.length);
    }

    int close() throws IOException, InterruptedException {
        if (relay.isAlive()) {
            post(CLOSE);
        }
        boolean terminated = false;
        if (!relay.waitFor(10, TimeUnit.SECONDS)) { // the relay did not take the message
            terminated = true;
            relay.destroy();
            relay.waitFor();
        }
        if (connection != null) {
            connection.close();
        }
        server.close();
        Files.deleteIfExists(window);
        event("closed", "status", relay.exitValue(), "terminated", terminated);
        return relay.exitValue();
    }

    int run() throws IOException, InterruptedException {
        Thread input = new Thread(() -> {
            try (BufferedReader r = new BufferedReader(new InputStreamReader(System.in))) {
                for (String line; (line = r.readLine()) != null && !line.strip().equals("close");) {
                }
            } catch (IOException e) {
                // standard input has gone: as its end
            }
            closing = true;
            selector.wakeup();
        });
        input.setDaemon(true);
        input.start();
        while (!closing && relay.isAlive()) {
            selector.select(200);
            for (SelectionKey key : selector.selectedKeys()) {
                if (key.isAcceptable()) {
                    accept();
                } else if (key.isReadable() && key.channel() == connection) {
                    read();
                }
            }
            selector.selectedKeys().clear();
        }
        return close();
    }

    public static void main(String[] args) throws Exception {
        Map<String, String> replies = new LinkedHashMap<>();
        String exchange = null;
        int i = 0;
        for (; i < args.length - 1 && args[i].startsWith("--"); ++i) {
            if (args[i].equals("--exchange")) {
                exchange = args[++i];
            } else if (args[i].equals("--reply") && args[i + 1].contains("=")) {
                String[] rule = args[++i].split("=", 2);
                replies.put(rule[0], rule[1]);
            } else {
                break;
            }
        }
        if (i != args.length - 1) {
            System.err.println("usage: java DcrelayHost.java [--exchange DIR] "
                    + "[--reply MNEMONIC=TEXT ...] INSTALLATION/dcrelay");
            System.exit(2);
        }
        Path relay = Path.of(args[i]).toAbsolutePath(); // absolute, but the link itself
        Path dir = exchange != null ? Path.of(exchange) : relay.getParent();
        DcrelayHost host = new DcrelayHost(relay, dir, replies);
        // SIGINT and SIGTERM close the relay as the end of standard input does.
        Thread main = Thread.currentThread();
        AtomicBoolean signalled = new AtomicBoolean(), finished = new AtomicBoolean();
        Runtime.getRuntime().addShutdownHook(new Thread(() -> {
            if (finished.get()) {
                return; // the exit below
            }
            signalled.set(true);
            host.closing = true;
            host.selector.wakeup();
            try {
                main.join(15000);
            } catch (InterruptedException e) {
                // the JVM ends anyway
            }
        }));
        int status = host.run();
        finished.set(true);
        if (!signalled.get()) {
            System.exit(status); // not while shutting down: that would wait for itself
        }
    }
}
