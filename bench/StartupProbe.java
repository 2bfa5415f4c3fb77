import java.io.IOException;
import java.time.Instant;

/**
 * Reports the moment its service entry point starts (epoch microseconds on standard output),
 * then waits for standard input to close so that the host's memory can be measured.
 */
public final class StartupProbe {
    private StartupProbe() {}

    public static void serviceMain(String[] args) throws IOException {
        Instant now = Instant.now();
        System.out.println("STARTED " + (now.getEpochSecond() * 1_000_000L + now.getNano() / 1000));
        System.out.flush();
        while (System.in.read() >= 0) {
            // wait for the end of input
        }
    }

    public static void serviceControl(int control) {}

    /**
     * The same entry point for the JDK's own launcher. With "bridge" it first loads the bridge
     * class from its jar, as brontel must before it can register the bridge's natives.
     */
    public static void main(String[] args) throws IOException, ClassNotFoundException {
        if (args.length > 0 && args[0].equals("bridge")) {
            Class.forName("com.vantero.core.orb.BrontelManager");
        }
        serviceMain(args);
    }
}
